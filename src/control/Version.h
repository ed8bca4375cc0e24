/* The module's name, maker and version, written once: the module descriptor,
   the version resource and the release zip's name take them from here. Plain
   macros, so that the resource compiler reads this file too. */
#pragma once

#define WAC_VERSION_MAJOR 7
#define WAC_VERSION_MINOR 1
#define WAC_VERSION_RELEASE 0
#define WAC_VERSION_BUILD 346

#define WAC_MODULE_NAME "Winamp Control"
#define WAC_AUTHOR "Winamp Control developers"
#define WAC_DESCRIPTION "Control multiple Winamp Instances using Kadovis"

#define WAC_TEXT_OF(x) #x
#define WAC_TEXT(x) WAC_TEXT_OF(x)
/* "7.1.0.346" */
#define WAC_VERSION_TEXT WAC_TEXT(WAC_VERSION_MAJOR.WAC_VERSION_MINOR.WAC_VERSION_RELEASE.WAC_VERSION_BUILD)

// Resource identifiers of the module's pictures (see src/ui/WinampControl.rc).
#pragma once

#define IDB_GLYPH_APPLY 101
#define IDB_GLYPH_OK 102
#define IDB_GLYPH_FOLDER 103
#define IDB_GLYPH_LIST 104
#define IDI_MODULE 201

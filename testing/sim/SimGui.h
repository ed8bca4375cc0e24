// The simulated GUI for the native tests: forms keep their state only (texts,
// enabled flags, visibility, clicks), and the file-open dialog answers what
// the test chose.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Gui.h"

namespace sim {

// Forms that exist now, oldest first.
std::vector<platform::Form*> Forms();

// What the next file-open dialogs answer (nothing: the user cancels).
void SetOpenDialogAnswer(std::optional<std::string> path);
int OpenDialogRuns();
platform::OpenDialogOptions LastOpenDialogOptions();
// Runs during the dialog's modal loop (a test lets time pass there).
void SetDuringOpenDialog(std::function<void()> action);

// The layout a form was built from.
const platform::FormLayout& LayoutOf(const platform::Form& form);
const std::vector<platform::ComponentLayout>& ComponentsOf(const platform::Form& form);
// How often the form has been brought to the front while already visible.
int BroughtToFront(const platform::Form& form);

}  // namespace sim

// A small modal list from which a person picks one of the server's variables.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host {

// Shows `names` in a list; the picked name, or nothing when cancelled (or the list is empty).
std::optional<std::string> ChooseFromList(const std::string& title, const std::vector<std::string>& names);

}  // namespace host

// The server's variable selector, as a module of the stand-in: it lists the
// variables whose types the filter admits and answers with the one chosen.
// Tests script its answer; the Windows host lets a person pick from a list.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "KDOHost.h"

namespace host {

class Selector {
 public:
  // Installs the selector module into `server` (which must outlive this object's use by it).
  explicit Selector(Server& server);
  ~Selector();

  // What the selection answers: the result code and the identifier written into the out-text.
  KDOResult Result = KDO_S_OK;
  std::string Answer;
  // Makes the interface query fail (the instance exists but is no selector).
  bool RefuseQuery = false;
  // When set, asked instead of Answer: the admitted variables' names; nothing means cancel.
  std::function<std::optional<std::string>(uint8_t filter, const std::vector<std::string>& names)> Chooser;

  // ---- observations
  std::vector<uint8_t> Filters;  // every filter that SelectVariable received
  int Created = 0;
  int Alive = 0;  // selector objects not yet destroyed
  // Each Release of a selector: the count left, and whether the server still listed the instance.
  struct ReleaseEvent {
    int32_t Left;
    bool Listed;
    bool operator==(const ReleaseEvent&) const = default;
  };
  std::vector<ReleaseEvent> Releases;

  // The server's variables whose types the filter admits, by name.
  std::vector<std::string> Admitted(uint8_t filter) const;
  bool Listed(uint16_t id) const { return server_.Instance(id) != nullptr; }

 private:
  Server& server_;
};

}  // namespace host

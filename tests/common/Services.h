// The server's services an instance obtains, in the order it asks for them, each with the line it
// logs when the server refuses it.
#pragma once

#include <iterator>

#include "host/KDOHost.h"

namespace testdata {

struct Service {
  const TGUID* Iid;
  const char* Refused;
};

inline const Service kServices[] = {
    {&IID_IKDOSettings, ">Couldn't obtain Settings Object"},
    {&IID_IKDOInstanceControl, ">Couldn't obtain InstanceControl Object"},
    {&IID_IKDOVariableManager, ">Couldn't obtain VariableManager Object"},
    {&IID_IKDOEventScripter, ">Couldn't obtain EventScripter Object"},
    {&IID_IKDODebugServer, ">Couldn't obtain DebugServer Object"},
};

// Has the server refuse every service, asked for or not, from the last to the first.
inline void RefuseAll(host::Server& server) {
  for (auto s = std::rbegin(kServices); s != std::rend(kServices); ++s) server.Refuse(*s->Iid);
}

}  // namespace testdata

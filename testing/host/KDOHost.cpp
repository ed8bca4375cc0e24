#include "KDOHost.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sdk/TextHeap.h"
#include "sdk/KDOGuard.h"

namespace host {


namespace {

std::string GuidKey(const TGUID& g) { return std::string(reinterpret_cast<const char*>(&g), sizeof g); }

std::string Str(KDOString s) { return std::string(kdo::text::View(s)); }

void AssignText(KDOString* var, std::string_view s) {
  KDOString made = kdo::text::Make(s);
  kdo::text::Assign(var, made);
  kdo::text::Release(made);
}

// A counted service that forwards its operations to the server.
template <class Itf>
class Counted : public CountedService<Itf> {
 public:
  Counted(Server& server, const TGUID& iid) : CountedService<Itf>(iid), server_(server) {}

 protected:
  ~Counted() = default;
  Server& server_;
};

class KernelObject final : public Counted<IKDOKernel> {
 public:
  using Counted::Counted;
  KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override {
    if (iid == IID_IKDOKernel || iid == IID_IInterface || iid == IID_IKDOMessageSink)
      return CountedService::QueryInterface(iid, obj);
    return server_.QueryService(iid, obj);
  }
  KDOResult KDO_STDCALL LogMessage(int32_t type, KDOString sender, KDOString message) override {
    return server_.LogMessage(type, sender, message);
  }
};

class SettingsObject final : public Counted<IKDOSettings> {
 public:
  using Counted::Counted;
  KDOResult KDO_STDCALL WriteSettingString(uint32_t id, const KDOString* path, int32_t high, KDOString name,
                                           KDOString value) override {
    return server_.WriteSettingString(id, path, high, name, value);
  }
  KDOResult KDO_STDCALL ReadSettingString(uint32_t id, const KDOString* path, int32_t high, KDOString name,
                                          KDOString* value) override {
    return server_.ReadSettingString(id, path, high, name, value);
  }
};

class InstanceControlObject final : public Counted<IKDOInstanceControl> {
 public:
  using Counted::Counted;
  KDOResult KDO_STDCALL CreateInstance(TGUID moduleId, TKDOModuleInstance* instance, uint32_t) override {
    return server_.CreateInstanceRecord(moduleId, instance);
  }
  KDOResult KDO_STDCALL DeleteInstance(uint32_t id) override { return server_.DeleteInstanceById(id); }
};

class VariableManagerObject final : public Counted<IKDOVariableManager> {
 public:
  using Counted::Counted;
  KDOResult KDO_STDCALL ReadVariableBoolean(KDOString ident, uint8_t* value) override {
    return Read(ident, VarType::Boolean, [&](const Value& v) { *value = v.Bool ? 1 : 0; }, value);
  }
  KDOResult KDO_STDCALL WriteVariableBoolean(KDOString ident, uint8_t value) override {
    return server_.WriteVariable(ident, Value::B(value != 0));
  }
  KDOResult KDO_STDCALL ReadVariableInteger(KDOString ident, int32_t* value) override {
    return Read(ident, VarType::Integer, [&](const Value& v) { *value = v.Int; }, value);
  }
  KDOResult KDO_STDCALL WriteVariableInteger(KDOString ident, int32_t value) override {
    return server_.WriteVariable(ident, Value::I(value));
  }
  KDOResult KDO_STDCALL ReadVariableString(KDOString ident, KDOString* value) override {
    return Read(ident, VarType::String, [&](const Value& v) { AssignText(value, v.Str); }, value);
  }
  KDOResult KDO_STDCALL WriteVariableString(KDOString ident, KDOString value) override {
    return server_.WriteVariable(ident, Value::S(Str(value)));
  }

 private:
  // A failed read leaves the out-parameter as it was.
  template <class Store, class Out>
  KDOResult Read(KDOString ident, VarType type, Store store, Out* out) {
    if (!out) return KDO_E_FAIL;
    Value v;
    KDOResult r = server_.ReadVariable(ident, type, v);
    if (KDOSucceeded(r)) store(v);
    return r;
  }
};

class EventScripterObject final : public Counted<IKDOEventScripter> {
 public:
  using Counted::Counted;
  KDOResult KDO_STDCALL RegisterFunction(KDOString name, const TKDONamedVarType* params, int32_t high,
                                         int32_t resultType, TKDOFunctionHandler code, void* object,
                                         uint32_t id) override {
    return server_.RegisterFunction(name, params, high, resultType, code, object, id);
  }
  KDOResult KDO_STDCALL UnregisterFunction(KDOString name, uint32_t id) override {
    return server_.UnregisterFunction(name, id);
  }
};

class DebugServerObject final : public Counted<IKDODebugServer> {
 public:
  using Counted::Counted;
  KDOResult KDO_STDCALL SendDebug(uint32_t id, KDOString message, KDOString data) override {
    return server_.SendDebug(id, message, data);
  }
};

// Settings file: one line per value, fields separated by tabs, with \t \n \\ escaped.
std::string Escape(std::string_view s) {
  std::string r;
  for (char c : s) {
    if (c == '\\') r += "\\\\";
    else if (c == '\t') r += "\\t";
    else if (c == '\n') r += "\\n";
    else if (c == '\r') r += "\\r";
    else r += c;
  }
  return r;
}

std::string Unescape(std::string_view s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      r += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      r += s[i];
    }
  }
  return r;
}

// "+name#id" or "-name#id" (built by appending: GCC 12 misreads "x" + string here).
std::string LogEntry(char sign, const std::string& name, uint32_t id) {
  std::string entry(1, sign);
  entry += name;
  entry += '#';
  entry += std::to_string(id);
  return entry;
}

std::string JoinPath(const KDOString* path, int32_t high) {
  std::string joined;
  for (int32_t i = 0; path && i <= high; ++i) {
    if (i) joined += '\\';
    joined += Str(path[i]);
  }
  return joined;
}

// A counted dynamic array of parameter records: length at -4, reference count at -8.
class ParamArray {
 public:
  explicit ParamArray(const std::vector<Value>& values) {
    if (values.empty()) return;
    size_t bytes = 8 + values.size() * sizeof(TKDOPHPParameter);
    block_ = static_cast<char*>(kdo::text::TextAlloc(bytes));
    if (!block_) throw std::bad_alloc();
    std::memset(block_, 0, bytes);
    int32_t head[2] = {1, int32_t(values.size())};
    std::memcpy(block_, head, sizeof head);
    for (size_t i = 0; i < values.size(); ++i) {
      TKDOPHPParameter& p = first()[i];
      p.BoolValue = values[i].Bool ? 1 : 0;
      p.IntValue = values[i].Int;
      p.StringValue = kdo::text::Make(values[i].Str);
    }
    count_ = values.size();
  }
  ~ParamArray() {
    if (!block_) return;
    for (size_t i = 0; i < count_; ++i) kdo::text::Release(first()[i].StringValue);
    kdo::text::TextFree(block_);
  }
  ParamArray(const ParamArray&) = delete;
  ParamArray& operator=(const ParamArray&) = delete;
  TKDOPHPParameter* first() { return block_ ? reinterpret_cast<TKDOPHPParameter*>(block_ + 8) : nullptr; }

 private:
  char* block_ = nullptr;
  size_t count_ = 0;
};

}  // namespace

struct Server::Services {
  explicit Services(Server& s)
      : kernel(s, IID_IKDOKernel),
        settings(s, IID_IKDOSettings),
        instanceControl(s, IID_IKDOInstanceControl),
        variables(s, IID_IKDOVariableManager),
        scripter(s, IID_IKDOEventScripter),
        debug(s, IID_IKDODebugServer) {}
  KernelObject kernel;
  SettingsObject settings;
  InstanceControlObject instanceControl;
  VariableManagerObject variables;
  EventScripterObject scripter;
  DebugServerObject debug;

  const RefCounter* CounterOf(const TGUID& iid) const {
    if (iid == IID_IKDOKernel) return &kernel.counter;
    if (iid == IID_IKDOSettings) return &settings.counter;
    if (iid == IID_IKDOInstanceControl) return &instanceControl.counter;
    if (iid == IID_IKDOVariableManager) return &variables.counter;
    if (iid == IID_IKDOEventScripter) return &scripter.counter;
    if (iid == IID_IKDODebugServer) return &debug.counter;
    return nullptr;
  }
  IInterface* Find(const TGUID& iid) {
    if (iid == IID_IKDOSettings) return &settings;
    if (iid == IID_IKDOInstanceControl) return &instanceControl;
    if (iid == IID_IKDOVariableManager) return &variables;
    if (iid == IID_IKDOEventScripter) return &scripter;
    if (iid == IID_IKDODebugServer) return &debug;
    return nullptr;
  }
};

Server::Server(std::string settingsFile)
    : services_(std::make_unique<Services>(*this)), settingsFile_(std::move(settingsFile)) {
  LoadSettingsFile();
}

Server::~Server() {
  DestroyAllInstances();
  UnloadModules();
}

IKDOKernel* Server::Kernel() { return &services_->kernel; }

void Server::Refuse(const TGUID& serviceId, bool refuse) {
  if (refuse)
    refused_.insert(GuidKey(serviceId));
  else
    refused_.erase(GuidKey(serviceId));
}

int32_t Server::HeldReferences() const {
  const TGUID* all[] = {&IID_IKDOKernel,        &IID_IKDOSettings,      &IID_IKDOInstanceControl,
                        &IID_IKDOVariableManager, &IID_IKDOEventScripter, &IID_IKDODebugServer};
  int32_t held = 0;
  for (const TGUID* g : all) held += services_->CounterOf(*g)->Held();
  return held;
}

RefCounter Server::Counter(const TGUID& serviceId) const {
  const RefCounter* c = services_->CounterOf(serviceId);
  return c ? *c : RefCounter{};
}

// ---------------------------------------------------------------- modules and instances

KDOResult Server::LoadModule(TKDOModuleInfoProc moduleInfo, const TKDOModuleInfo** info) {
  const TKDOModuleInfo* got = nullptr;
  KDOResult r = moduleInfo(&got);
  if (KDOFailed(r) || !got) return KDO_E_FAIL;
  modules_.push_back({got});
  if (info) *info = got;
  return got->OnRegister(Kernel());
}

void Server::UnloadModules() {
  while (!modules_.empty()) {
    modules_.back().Info->OnUnregister();
    modules_.pop_back();
  }
}

void Server::ForgetModules() { modules_.clear(); }

void Server::AddBuiltinModule(const TGUID& moduleId, std::function<IKDOModule*(uint16_t)> create) {
  builtins_.push_back({moduleId, std::move(create)});
}

KDOResult Server::CreateInstance(const TGUID& moduleId, uint16_t id) {
  for (const Builtin& b : builtins_) {
    if (!(b.Id == moduleId)) continue;
    if (instances_.count(id)) return KDO_E_FAIL;
    IKDOModule* made = b.Create(id);
    if (!made) return KDO_E_FAIL;
    instances_[id] = TKDORef<IKDOModule>::Adopt(made);
    return KDO_S_OK;
  }
  for (const Module& m : modules_) {
    if (!(m.Info->ModuleID == moduleId)) continue;
    if (instances_.count(id)) return KDO_E_FAIL;
    IKDOModule* made = nullptr;
    KDOResult r = m.Info->OnCreateInstance(id, &made);
    if (KDOFailed(r)) return r;
    instances_[id] = TKDORef<IKDOModule>::Adopt(made);
    return r;
  }
  return KDO_E_FAIL;
}

IKDOModule* Server::Instance(uint16_t id) const {
  auto it = instances_.find(id);
  return it == instances_.end() ? nullptr : it->second.get();
}

std::vector<uint16_t> Server::InstanceIds() const {
  std::vector<uint16_t> ids;
  for (const auto& [id, ref] : instances_) ids.push_back(id);
  return ids;
}

bool Server::DestroyInstance(uint16_t id) {
  auto it = instances_.find(id);
  if (it == instances_.end()) return false;
  TKDORef<IKDOModule> last = std::move(it->second);
  instances_.erase(it);
  return true;  // `last` releases here, after the table no longer names it
}

void Server::DestroyAllInstances() {
  while (!instances_.empty()) DestroyInstance(instances_.begin()->first);
}

KDOResult Server::CreateInstanceRecord(const TGUID& moduleId, TKDOModuleInstance* record) {
  if (!record) return KDO_E_FAIL;
  uint16_t id = nextInstanceId_;
  while (instances_.count(id)) ++id;
  KDOResult r = CreateInstance(moduleId, id);
  if (KDOFailed(r)) return r;
  nextInstanceId_ = uint16_t(id + 1);
  record->InstanceID = id;
  record->Module = Instance(id);
  record->Module->AddRef();  // the record's holder releases it
  return KDO_S_OK;
}

KDOResult Server::DeleteInstanceById(uint32_t id) {
  return id <= 0xFFFF && DestroyInstance(uint16_t(id)) ? KDO_S_OK : KDO_E_FAIL;
}

// ---------------------------------------------------------------- services

KDOResult Server::QueryService(const TGUID& iid, void** obj) {
  if (!obj) return KDO_E_NOINTERFACE;
  IInterface* s = refused_.count(GuidKey(iid)) ? nullptr : services_->Find(iid);
  if (!s) {
    *obj = nullptr;
    return KDO_E_NOINTERFACE;
  }
  return s->QueryInterface(iid, obj);
}

KDOResult Server::LogMessage(int32_t type, KDOString sender, KDOString message) {
  return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    log_.push_back({type, Str(sender), Str(message)});
    return KDO_S_OK;
  });
}

KDOResult Server::SendDebug(uint32_t id, KDOString message, KDOString data) {
  return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    debug_.push_back({id, Str(message), Str(data)});
    return KDO_S_OK;
  });
}

KDOResult Server::WriteSettingString(uint32_t id, const KDOString* path, int32_t high, KDOString name,
                                     KDOString value) {
  return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    settings_[{id, JoinPath(path, high), Str(name)}] = Str(value);
    settingWrites_.push_back(Str(name));
    SaveSettingsFile();
    return KDO_S_OK;
  });
}

// A missing key reads as the empty text and fails.
KDOResult Server::ReadSettingString(uint32_t id, const KDOString* path, int32_t high, KDOString name,
                                    KDOString* value) {
  return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    if (!value) return KDO_E_FAIL;
    auto it = settings_.find({id, JoinPath(path, high), Str(name)});
    AssignText(value, it == settings_.end() ? std::string_view() : std::string_view(it->second));
    return it == settings_.end() ? KDO_E_FAIL : KDO_S_OK;
  });
}

std::optional<std::string> Server::Setting(uint32_t id, std::string_view path, std::string_view key) const {
  auto it = settings_.find({id, std::string(path), std::string(key)});
  if (it == settings_.end()) return std::nullopt;
  return it->second;
}

std::map<uint32_t, std::size_t> Server::SettingCounts() const {
  std::map<uint32_t, std::size_t> counts;
  for (const auto& [key, value] : settings_) ++counts[std::get<0>(key)];
  return counts;
}

void Server::SetSetting(uint32_t id, std::string_view path, std::string_view key, std::string_view value) {
  settings_[{id, std::string(path), std::string(key)}] = std::string(value);
  SaveSettingsFile();
}

void Server::LoadSettingsFile() {
  if (settingsFile_.empty()) return;
  std::ifstream in(settingsFile_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string part;
    while (std::getline(ss, part, '\t')) f.push_back(Unescape(part));
    if (line.size() && line.back() == '\t') f.emplace_back();
    if (f.size() != 4) continue;
    settings_[{uint32_t(std::stoul(f[0])), f[1], f[2]}] = f[3];
  }
}

void Server::SaveSettingsFile() const {
  if (settingsFile_.empty()) return;
  std::ofstream out(settingsFile_, std::ios::binary | std::ios::trunc);
  for (const auto& [k, v] : settings_)
    out << std::get<0>(k) << '\t' << Escape(std::get<1>(k)) << '\t' << Escape(std::get<2>(k)) << '\t' << Escape(v)
        << '\n';
}

void Server::DefineVariable(std::string_view ident, Value initial) { variables_[std::string(ident)] = std::move(initial); }

std::optional<Value> Server::Variable(std::string_view ident) const {
  auto it = variables_.find(ident);
  if (it == variables_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Server::VariableNames() const {
  std::vector<std::string> names;
  for (const auto& [name, value] : variables_) names.push_back(name);
  return names;
}

int Server::VariableWrites(std::string_view ident) const {
  auto it = varWrites_.find(ident);
  return it == varWrites_.end() ? 0 : it->second;
}

int Server::VariableReads(std::string_view ident) const {
  auto it = varReads_.find(ident);
  return it == varReads_.end() ? 0 : it->second;
}

// Unknown variables and reads or writes of the wrong type fail.
KDOResult Server::ReadVariable(KDOString ident, VarType type, Value& out) {
  return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    std::string name = Str(ident);
    ++varReads_[name];
    auto it = variables_.find(name);
    if (it == variables_.end() || it->second.Type != type) return KDO_E_FAIL;
    out = it->second;
    return KDO_S_OK;
  });
}

KDOResult Server::WriteVariable(KDOString ident, const Value& v) {
  std::string name;
  const KDOResult r = KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    name = Str(ident);
    ++varWrites_[name];
    auto it = variables_.find(name);
    if (it == variables_.end() || it->second.Type != v.Type) return KDO_E_FAIL;
    it->second = v;
    return KDO_S_OK;
  });
  if (r != KDO_S_OK) return r;
  ++writesUnderWay_;
  RunEvents(name, v);
  --writesUnderWay_;
  return r;
}

void Server::OnWrite(std::string_view ident, std::string function, uint32_t instance, std::vector<Value> params) {
  const std::string variable(ident);
  OnWrite(ident, [this, variable, function = std::move(function), instance, params = std::move(params)](const Value&) {
    CallResult result = Call(function, instance, params);
    eventCalls_.push_back({variable, function, std::move(result)});
  });
}

void Server::OnWrite(std::string_view ident, std::function<void(const Value&)> code) {
  events_.push_back(std::make_shared<Event>(Event{std::string(ident), std::move(code)}));
}

void Server::ClearEvents() {
  events_.clear();
  eventCalls_.clear();
}

// An event's code may write variables itself, or add and clear events: each is held while it runs.
void Server::RunEvents(const std::string& ident, const Value& written) {
  const std::vector<std::shared_ptr<Event>> events = events_;
  for (const std::shared_ptr<Event>& event : events) {
    if (event->Variable != ident || event->Running || !event->Code) continue;
    event->Running = true;
    const Value value = written;  // the writer's value may go with what the event does
    KDOGuard(kdo::text::Const<"an event script">(), [&] { event->Code(value); });
    event->Running = false;
  }
}

// ---------------------------------------------------------------- script functions

KDOResult Server::RegisterFunction(KDOString name, const TKDONamedVarType* params, int32_t high, int32_t resultType,
                                   TKDOFunctionHandler code, void* object, uint32_t id) {
  return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    if (kdo::text::View(name).empty() || !code || high < -1 || (high >= 0 && !params)) return KDO_E_FAIL;
    Registration reg{Str(name), {}, resultType, code, object, id, registrations_++};
    for (int32_t i = 0; i <= high; ++i) reg.Params.emplace_back(Str(params[i].Name), params[i].VarType);
    functionLog_.push_back(LogEntry('+', reg.Name, id));
    functions_[{kdo::text::LowerAZ(reg.Name), id}] = std::move(reg);
    return KDO_S_OK;
  });
}

KDOResult Server::UnregisterFunction(KDOString name, uint32_t id) {
  return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
    functionLog_.push_back(LogEntry('-', Str(name), id));
    return functions_.erase({kdo::text::LowerAZ(Str(name)), id}) ? KDO_S_OK : KDO_E_FAIL;
  });
}

const Registration* Server::Function(std::string_view name, uint32_t id) const {
  auto it = functions_.find({kdo::text::LowerAZ(name), id});
  return it == functions_.end() ? nullptr : &it->second;
}

std::vector<const Registration*> Server::Functions(uint32_t id) const {
  std::vector<const Registration*> found;
  for (const auto& [key, reg] : functions_)
    if (reg.Id == id) found.push_back(&reg);
  std::sort(found.begin(), found.end(), [](const Registration* a, const Registration* b) { return a->Order < b->Order; });
  return found;
}

// Routes by name (letter case ignored, as scripts do) and id; the handler sees the name as called.
CallResult Server::Call(std::string_view name, uint32_t id, const std::vector<Value>& params,
                        const CallResult& initial) {
  CallResult out = initial;
  out.Routed = false;
  const Registration* reg = Function(name, id);
  if (!reg) return out;
  out.Routed = true;
  ParamArray array(params);
  TKDOText called(name);
  TKDOPHPParameter result{};
  result.BoolValue = initial.Bool;
  result.IntValue = initial.Int;
  result.StringValue = kdo::text::Make(initial.Str);
  reg->Code(reg->Object, called.get(), array.first(), &result, id);
  out.Bool = result.BoolValue;
  out.Int = result.IntValue;
  out.Str = Str(result.StringValue);
  kdo::text::Release(result.StringValue);
  return out;
}

}  // namespace host

// A small, real stand-in for the Kadovis server: the kernel and the five
// services the module uses, module loading and instances, and what tests and
// the host program need to drive and observe them.
//
// Every service object counts the AddRef and Release calls it receives, so a
// test can prove that the module leaves every reference balanced. The server
// owns its service objects for its whole life; their counts never destroy them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "CountedService.h"
#include "sdk/UKDOTypes.h"

namespace host {

struct LogLine {
  int32_t Type;
  std::string Sender;
  std::string Text;
  bool operator==(const LogLine&) const = default;
};

struct DebugLine {
  uint32_t Id;
  std::string Message;
  std::string Data;
  bool operator==(const DebugLine&) const = default;
};

enum class VarType : uint8_t { Boolean = KDO_TYPE_BOOLEAN, Integer = KDO_TYPE_INTEGER, String = KDO_TYPE_STRING };

// A script value or a variable's value.
struct Value {
  VarType Type = VarType::Boolean;
  bool Bool = false;
  int32_t Int = 0;
  std::string Str;
  static Value B(bool b) { return {VarType::Boolean, b, 0, {}}; }
  static Value I(int32_t i) { return {VarType::Integer, false, i, {}}; }
  static Value S(std::string s) { return {VarType::String, false, 0, std::move(s)}; }
  bool operator==(const Value&) const = default;
};

struct Registration {
  std::string Name;
  std::vector<std::pair<std::string, uint8_t>> Params;
  int32_t ResultType;
  TKDOFunctionHandler Code;
  void* Object;
  uint32_t Id;
  uint64_t Order = 0;  // registrations before it, over the server's life
};

// What a handler left in the result record.
struct CallResult {
  bool Routed = false;  // a registration of that name and id existed
  uint8_t Bool = 0;
  int32_t Int = 0;
  std::string Str;
};

class Server {
 public:
  // Settings are kept in `settingsFile` (when given), read now and rewritten on every change.
  explicit Server(std::string settingsFile = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  IKDOKernel* Kernel();

  // Makes the kernel refuse (or give again) the service with this identifier.
  void Refuse(const TGUID& serviceId, bool refuse = true);

  // References the module holds on the kernel and the services (0 when balanced).
  int32_t HeldReferences() const;
  RefCounter Counter(const TGUID& serviceId) const;  // IID_IKDOKernel for the kernel

  // ---- modules and instances
  // Asks the library for its descriptor and calls OnRegister.
  KDOResult LoadModule(TKDOModuleInfoProc moduleInfo, const TKDOModuleInfo** info = nullptr);
  // OnUnregister for every loaded module, newest first.
  void UnloadModules();
  // Drops the modules without calling them (their library was unloaded under the server).
  void ForgetModules();
  // A module of the server's own: `create` makes an instance and hands over its one reference.
  void AddBuiltinModule(const TGUID& moduleId, std::function<IKDOModule*(uint16_t id)> create);
  // OnCreateInstance for the module; the server keeps the one reference.
  KDOResult CreateInstance(const TGUID& moduleId, uint16_t id);
  IKDOModule* Instance(uint16_t id) const;
  std::vector<uint16_t> InstanceIds() const;
  // Releases the server's reference.
  bool DestroyInstance(uint16_t id);
  void DestroyAllInstances();

  // ---- log and debug output
  const std::vector<LogLine>& Log() const { return log_; }
  const std::vector<DebugLine>& Debug() const { return debug_; }
  void ClearLog() { log_.clear(); }
  void ClearDebug() { debug_.clear(); }

  // ---- settings, per instance, under a path of section names joined by '\'
  std::optional<std::string> Setting(uint32_t id, std::string_view path, std::string_view key) const;
  void SetSetting(uint32_t id, std::string_view path, std::string_view key, std::string_view value);
  // How many settings each instance has in the store (at start: what the file held).
  std::map<uint32_t, std::size_t> SettingCounts() const;
  // Keys written, in the order the writes came (for order checks).
  const std::vector<std::string>& SettingWrites() const { return settingWrites_; }
  void ClearSettingWrites() { settingWrites_.clear(); }

  // ---- variables
  void DefineVariable(std::string_view ident, Value initial);
  std::optional<Value> Variable(std::string_view ident) const;
  std::vector<std::string> VariableNames() const;
  int VariableWrites(std::string_view ident) const;
  int VariableReads(std::string_view ident) const;

  // ---- events: as a real server's event scripter, the stand-in runs a variable's events on the
  // thread that writes it, inside the write, after the value is stored and before the write returns;
  // so a write may come back into any module, the writer and its instance included. Each write that
  // stores a value runs them (changed or not), in the order they were added; an event does not start
  // again while it runs.
  // When `ident` is written, call script function `function` of instance `instance` with `params`.
  void OnWrite(std::string_view ident, std::string function, uint32_t instance, std::vector<Value> params);
  // When `ident` is written, run `code` with the value written (anything a script may do).
  void OnWrite(std::string_view ident, std::function<void(const Value&)> code);
  void ClearEvents();
  struct EventCall {
    std::string Variable;  // whose write ran it
    std::string Function;
    CallResult Result;
  };
  // The script calls events made, in the order they returned.
  const std::vector<EventCall>& EventCalls() const { return eventCalls_; }
  // Writes under way (an event's code runs at depth 1 or more).
  int WritesUnderWay() const { return writesUnderWay_; }

  // ---- script functions
  const Registration* Function(std::string_view name, uint32_t id) const;
  // An instance's functions, in the order they were registered.
  std::vector<const Registration*> Functions(uint32_t id) const;
  size_t FunctionCount() const { return functions_.size(); }
  // Registrations and unregistrations in the order they came: "+name#id", "-name#id".
  const std::vector<std::string>& FunctionLog() const { return functionLog_; }
  // Calls the registered handler with these parameter values (as many as given);
  // the result record starts as `initial`.
  CallResult Call(std::string_view name, uint32_t id, const std::vector<Value>& params, const CallResult& initial = {});

  // ---- service operations (the objects below forward here)
  KDOResult QueryService(const TGUID& iid, void** obj);
  KDOResult LogMessage(int32_t type, KDOString sender, KDOString message);
  KDOResult WriteSettingString(uint32_t id, const KDOString* path, int32_t high, KDOString name, KDOString value);
  KDOResult ReadSettingString(uint32_t id, const KDOString* path, int32_t high, KDOString name, KDOString* value);
  KDOResult CreateInstanceRecord(const TGUID& moduleId, TKDOModuleInstance* record);
  KDOResult DeleteInstanceById(uint32_t id);
  KDOResult ReadVariable(KDOString ident, VarType type, Value& out);
  KDOResult WriteVariable(KDOString ident, const Value& v);
  KDOResult RegisterFunction(KDOString name, const TKDONamedVarType* params, int32_t high, int32_t resultType,
                             TKDOFunctionHandler code, void* object, uint32_t id);
  KDOResult UnregisterFunction(KDOString name, uint32_t id);
  KDOResult SendDebug(uint32_t id, KDOString message, KDOString data);

  struct Services;

 private:
  using SettingKey = std::tuple<uint32_t, std::string, std::string>;
  struct Module {
    const TKDOModuleInfo* Info;
  };
  struct Builtin {
    TGUID Id;
    std::function<IKDOModule*(uint16_t)> Create;
  };

  void LoadSettingsFile();
  void SaveSettingsFile() const;
  void RunEvents(const std::string& ident, const Value& written);

  struct Event {
    std::string Variable;
    std::function<void(const Value&)> Code;
    bool Running = false;
  };

  std::unique_ptr<Services> services_;
  std::set<std::string> refused_;  // service GUIDs as 16-byte keys
  std::vector<Module> modules_;
  std::vector<Builtin> builtins_;
  std::map<uint16_t, TKDORef<IKDOModule>> instances_;
  uint16_t nextInstanceId_ = 1000;
  std::vector<LogLine> log_;
  std::vector<DebugLine> debug_;
  std::string settingsFile_;
  std::map<SettingKey, std::string> settings_;
  std::vector<std::string> settingWrites_;
  std::map<std::string, Value, std::less<>> variables_;
  std::map<std::string, int, std::less<>> varWrites_, varReads_;
  std::map<std::pair<std::string, uint32_t>, Registration> functions_;  // key: lower-case name, id
  std::vector<std::string> functionLog_;
  uint64_t registrations_ = 0;
  std::vector<std::shared_ptr<Event>> events_;  // an event's code may add or clear events
  std::vector<EventCall> eventCalls_;
  int writesUnderWay_ = 0;
};

}  // namespace host

// addin-host: plays the host platform on the command line. Loads a component module through
// its exports, creates a component and runs the commands given, printing every result.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "host.h"
#include "support.h"
#include "common/text.h"
#include "platform/env.h"
#include "platform/fs.h"

using qd::host::TCallResult;
using qd::host::TComponent;
using qd::host::THostValue;
using qd::host::TModule;

namespace {

const char* kUsage =
    "usage: addin-host [--module PATH] [--class NAME] [--keep-going] [--json] COMMAND...\n"
    "       addin-host --help | --version\n"
    "\n"
    "Loads the module (default: w_quendal7v2k beside this program, or in ../lib/w_quendal7v2k/\n"
    "of the installed layout), creates one component and runs the commands in order, printing\n"
    "every result. The whole command line is read (every argument and file) before anything\n"
    "is called.\n"
    "\n"
    "Commands:\n"
    "  classes                 the module's class names\n"
    "  info                    GetInfo, RegisterExtensionAs and the member counts\n"
    "  methods                 methods with both names and their argument counts\n"
    "  props                   properties with both names, access and value\n"
    "  prop NAME               one property's value\n"
    "  call METHOD [ARG...]    call as a function; prints the result and the arguments after\n"
    "  proc METHOD [ARG...]    call as a procedure\n"
    "  param NAME VALUE        same as: call SetParameter s:NAME s:VALUE\n"
    "  lasterror               same as: call GetLastError s: s:\n"
    "\n"
    "After a call that fails (returns false or a false result) the component's error follows:\n"
    "  GetLastError: CODE \"TEXT\"\n"
    "\n"
    "Arguments (a type letter, a colon and the value, read strictly):\n"
    "  s:TEXT  (UTF-8 only)  i:INTEGER (32-bit)  d:DECIMAL  b:true|false|1|0  e:  (empty)\n"
    "  f:FILE  (the text of a file; UTF-8 only, an XML declaration must name UTF-8)\n"
    "  l:INTEGER (64-bit: a type a host may send, but w_quendal7v2k takes it in no argument\n"
    "          and the call fails with \"Неподдерживаемый тип данных\"; l: lets you try that)\n"
    "  x:HEX   (binary block, two digits a byte)\n"
    "  t:YYYY-MM-DD or t:YYYY-MM-DDTHH:MM:SS  (calendar date and time)\n"
    "\n"
    "Options:\n"
    "  --module PATH   the module to load\n"
    "  --class NAME    the class to create (default: the module's first)\n"
    "  --keep-going    run the commands after a failed call too\n"
    "  --json          one JSON object a line for every command instead of the text form\n"
    "  --help          this text\n"
    "  --version       the version of this program; the module is not loaded for it\n"
    "\n"
    "Exit status:\n"
    "  0  every call succeeded\n"
    "  1  a call failed (the run stops there unless --keep-going)\n"
    "  2  usage: an unknown command, option, method or property, an argument its type does not\n"
    "     take, a file that cannot be read or is not UTF-8 text; nothing is called then\n"
    "  3  the module cannot be loaded or has no such class\n"
    "  4  memory faults (blocks not released, foreign or double frees) found at the end\n";

// Beside the program (a build folder, the Windows layout), else where the installed layout
// puts the module relative to the program's folder (bin/ and lib/w_quendal7v2k/).
std::string DefaultModulePath() {
#if defined(_WIN32)
  const char* file = "w_quendal7v2k.dll";
#else
  const char* file = "w_quendal7v2k.so";
#endif
  const std::string beside = qd::tools::ProgramFolder() + file;
#if defined(QD_MODULE_DIR_FROM_PROGRAM)
  if (!qd::platform::FileExists(beside, qd::platform::TLinks::Follow)) {
    const std::string installed = qd::tools::ProgramFolder() + QD_MODULE_DIR_FROM_PROGRAM + "/" + file;
    if (qd::platform::FileExists(installed, qd::platform::TLinks::Follow)) return installed;
  }
#endif
  return beside;
}

// ---- JSON output ----

using qd::tools::JsonString;

std::string JsonNumber(double AValue) {
  if (!std::isfinite(AValue)) return JsonString(qd::FloatToStr(AValue));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", AValue);
  return buf;
}

std::string JsonValue(const THostValue& AValue) {
  using namespace qd::abi;
  std::string type, value;
  char buf[64];
  switch (AValue.vt) {
    case VTYPE_EMPTY: type = "empty"; value = "null"; break;
    case VTYPE_I4: type = "int"; value = std::to_string(AValue.i); break;
    case VTYPE_I8: type = "int64"; value = std::to_string(AValue.i); break;
    case VTYPE_ERROR: type = "code9"; value = std::to_string(AValue.i); break;
    case VTYPE_BOOL: type = "bool"; value = AValue.i ? "true" : "false"; break;
    case VTYPE_R8: type = "double"; value = JsonNumber(AValue.d); break;
    case VTYPE_DATE: type = "date"; value = JsonNumber(AValue.d); break;
    case VTYPE_TM:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", AValue.tm.tm_year + 1900, AValue.tm.tm_mon + 1,
                    AValue.tm.tm_mday, AValue.tm.tm_hour, AValue.tm.tm_min, AValue.tm.tm_sec);
      type = "tm";
      value = JsonString(buf);
      break;
    case VTYPE_PWSTR: type = "text"; value = JsonString(AValue.text); break;
    case VTYPE_BLOB: {
      std::string hex;
      for (unsigned char c : AValue.text) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        hex += buf;
      }
      type = "blob";
      value = JsonString(hex);
      break;
    }
    default: type = "type " + std::to_string(AValue.vt); value = "null"; break;
  }
  return "{\"type\": \"" + type + "\", \"value\": " + value + "}";
}

// ---- one command line, read whole before anything runs ----

struct TCommand {
  std::string Name;    // classes, info, methods, props, prop, call, proc
  std::string Target;  // the method or property
  std::vector<THostValue> Args;
  int64_t Index = -1;  // of the method or property, once the component is there
};

struct TCommandLine {
  std::string ModulePath;
  std::string ClassName;
  bool KeepGoing = false;
  bool Json = false;
  bool Help = false;
  bool Version = false;
  std::vector<TCommand> Commands;
};

TCommandLine ReadCommandLine(const std::vector<std::string>& AArgs) {
  using qd::tools::EUsage;
  TCommandLine line;
  line.ModulePath = DefaultModulePath();
  for (size_t i = 0; i < AArgs.size();) {
    const std::string& a = AArgs[i++];
    auto next = [&](const std::string& AWhat) -> std::string {
      if (i >= AArgs.size()) throw EUsage(AWhat);
      return AArgs[i++];
    };
    auto takeArgs = [&](TCommand& ACommand) {
      while (i < AArgs.size() && qd::host::IsArgumentToken(AArgs[i])) {
        try {
          ACommand.Args.push_back(qd::host::ParseArgument(AArgs[i++]));
        } catch (const EUsage&) {
          throw;
        } catch (const std::exception& e) {
          throw EUsage(e.what());  // a file argument that cannot be taken
        }
      }
    };
    if (a == "--help" || a == "-h") {
      line.Help = true;
    } else if (a == "--version") {
      line.Version = true;
    } else if (a == "--module") {
      line.ModulePath = next("--module needs a path");
    } else if (a == "--class") {
      line.ClassName = next("--class needs a class name");
    } else if (a == "--keep-going") {
      line.KeepGoing = true;
    } else if (a == "--json") {
      line.Json = true;
    } else if (a == "classes" || a == "info" || a == "methods" || a == "props") {
      line.Commands.push_back(TCommand{a, "", {}});
    } else if (a == "prop") {
      line.Commands.push_back(TCommand{a, next("prop needs a property name"), {}});
    } else if (a == "call" || a == "proc") {
      TCommand command{a, next(a + " needs a method name"), {}};
      takeArgs(command);
      line.Commands.push_back(std::move(command));
    } else if (a == "param") {
      std::string name = next("param needs a name and a value");
      std::string value = next("param needs a name and a value");
      qd::host::CheckUtf8Argument("the name of param", name);
      qd::host::CheckUtf8Argument("the value of param " + name, value);
      line.Commands.push_back(TCommand{"call", "SetParameter", {THostValue::Text(name), THostValue::Text(value)}});
    } else if (a == "lasterror") {
      line.Commands.push_back(TCommand{"call", "GetLastError", {THostValue::Text(""), THostValue::Text("")}});
    } else if (qd::host::IsArgumentToken(a)) {
      throw EUsage("argument " + a + " without a call before it");
    } else if (a.rfind("--", 0) == 0) {
      throw EUsage("unknown option " + a);
    } else {
      throw EUsage("unknown command " + a);
    }
  }
  if (line.Commands.empty() && !line.Help && !line.Version) throw EUsage("no command given");
  return line;
}

// ---- output ----

// The component's status line, as a host shows it: on a terminal one line on standard error,
// rewritten in place and wiped when the component resets it; otherwise one plain line a call.
class TStatusLinePrinter {
 public:
  TStatusLinePrinter() : FInPlace(qd::platform::StdErrIsTerminal()) {}
  void Show(bool AReset, const std::string& AText) {
    if (!FInPlace) {
      std::cerr << (AReset ? std::string("status line reset") : "status line: " + AText) << "\n";
      return;
    }
    std::string line = AReset ? std::string() : AText;
    size_t width = qd::Utf8ToUtf16(line, nullptr);
    std::cerr << "\r" << line << std::string(FWidth > width ? FWidth - width : 0, ' ');
    if (AReset) std::cerr << "\r";
    std::cerr << std::flush;
    FWidth = width;
  }

 private:
  bool FInPlace;
  size_t FWidth = 0;  // characters of the line on screen
};

struct TComponentError {
  int64_t Code = 0;
  std::string Text;
};

// What the component says of its last failure through its own GetLastError, when it has one
// and the failed call was not that one (by either name).
std::optional<TComponentError> AskLastError(TComponent& AComponent, int64_t AFailedMethod) {
  int64_t index = AComponent.FindMethod("GetLastError");
  if (index < 0 || index == AFailedMethod) return std::nullopt;
  std::vector<THostValue> args(static_cast<size_t>(std::max<int64_t>(AComponent.GetNParams(index), 1)), THostValue::Text(""));
  TCallResult r = AComponent.CallAsFunc(index, args);
  TComponentError error;
  error.Code = r.Result.i;
  if (!r.Args.empty()) error.Text = r.Args[0].text;
  return error;
}

class TPrinter {
 public:
  TPrinter(TComponent& AComponent, bool AJson) : FComponent(AComponent), FJson(AJson) {}

  void Classes(const std::string& ANames) {
    if (!FJson) {
      std::cout << "classes: " << ANames << "\n";
      return;
    }
    std::string list;
    for (size_t from = 0; from <= ANames.size();) {
      size_t bar = ANames.find('|', from);
      if (bar == std::string::npos) bar = ANames.size();
      if (!list.empty()) list += ", ";
      list += JsonString(ANames.substr(from, bar - from));
      from = bar + 1;
    }
    Pending("{\"command\": \"classes\", \"classes\": [" + list + "]");
  }

  void Info() {
    TComponent& c = FComponent;
    int64_t info = c.GetInfo();
    std::string extension = c.RegisterExtensionAs();
    int64_t props = c.GetNProps(), methods = c.GetNMethods();
    if (!FJson) {
      std::cout << "info: " << info << "\nextension: " << extension << "\nproperties: " << props
                << "\nmethods: " << methods << "\n";
      return;
    }
    Pending("{\"command\": \"info\", \"info\": " + std::to_string(info) + ", \"extension\": " + JsonString(extension) +
         ", \"properties\": " + std::to_string(props) + ", \"methods\": " + std::to_string(methods));
  }

  void Methods() {
    TComponent& c = FComponent;
    std::string list;
    for (int64_t i = 0; i < c.GetNMethods(); ++i) {
      std::string n0 = c.GetMethodName(i, 0), n1 = c.GetMethodName(i, 1);
      int64_t params = c.GetNParams(i);
      if (!FJson) {
        std::cout << i << "\t" << n0 << "\t" << n1 << "\t" << params << "\n";
        continue;
      }
      if (!list.empty()) list += ", ";
      list += "{\"index\": " + std::to_string(i) + ", \"names\": [" + JsonString(n0) + ", " + JsonString(n1) +
              "], \"params\": " + std::to_string(params) + "}";
    }
    if (FJson) Pending("{\"command\": \"methods\", \"methods\": [" + list + "]");
  }

  void Props() {
    TComponent& c = FComponent;
    std::string list;
    for (int64_t i = 0; i < c.GetNProps(); ++i) {
      THostValue v;
      c.GetPropValue(i, v);
      std::string n0 = c.GetPropName(i, 0), n1 = c.GetPropName(i, 1);
      const char* access = c.IsPropWritable(i) ? "rw" : "r";
      if (!FJson) {
        std::cout << i << "\t" << n0 << "\t" << n1 << "\t" << access << "\t" << v.Describe() << "\n";
        continue;
      }
      if (!list.empty()) list += ", ";
      list += "{\"index\": " + std::to_string(i) + ", \"names\": [" + JsonString(n0) + ", " + JsonString(n1) +
              "], \"access\": \"" + access + "\", \"value\": " + JsonValue(v) + "}";
    }
    if (FJson) Pending("{\"command\": \"props\", \"props\": [" + list + "]");
  }

  void Prop(const TCommand& ACommand) {
    THostValue v;
    FComponent.GetPropValue(ACommand.Index, v);
    if (!FJson)
      std::cout << "prop " << ACommand.Target << ": " << v.Describe() << "\n";
    else
      Pending("{\"command\": \"prop\", \"name\": " + JsonString(ACommand.Target) + ", \"value\": " + JsonValue(v));
  }

  // Runs the call and prints it; false when it failed.
  bool Call(const TCommand& ACommand) {
    TComponent& c = FComponent;
    bool function = ACommand.Name == "call";
    TCallResult r = function ? c.CallAsFunc(ACommand.Index, ACommand.Args) : c.CallAsProc(ACommand.Index, ACommand.Args);
    bool ok = r.Returned && !(function && r.Result.vt == qd::abi::VTYPE_BOOL && !r.Result.i);
    std::string lastError = function ? c.LastErrorDescription() : std::string();
    std::optional<TComponentError> error;
    if (!ok) error = AskLastError(c, ACommand.Index);
    if (!FJson) {
      std::cout << ACommand.Name << " " << ACommand.Target << ": " << (r.Returned ? "true" : "false") << "\n";
      if (function) std::cout << "  result: " << r.Result.Describe() << "\n";
      for (size_t i = 0; i < r.Args.size(); ++i) std::cout << "  arg " << i << ": " << r.Args[i].Describe() << "\n";
      if (function) std::cout << "  LastErrorDescription: \"" << lastError << "\"\n";
      if (error) std::cout << "  GetLastError: " << error->Code << " \"" << error->Text << "\"\n";
      return ok;
    }
    std::string args;
    for (const THostValue& v : r.Args) args += (args.empty() ? "" : ", ") + JsonValue(v);
    std::string json = "{\"command\": \"" + ACommand.Name + "\", \"method\": " + JsonString(ACommand.Target) +
                       ", \"returned\": " + (r.Returned ? "true" : "false") + ", \"ok\": " + (ok ? "true" : "false");
    if (function) json += ", \"result\": " + JsonValue(r.Result);
    json += ", \"args\": [" + args + "]";
    if (function) json += ", \"lastErrorDescription\": " + JsonString(lastError);
    if (error) json += ", \"error\": {\"code\": " + std::to_string(error->Code) + ", \"text\": " + JsonString(error->Text) + "}";
    Pending(json);
    return ok;
  }

  // The error reports the component sent since the last command: printed after it, or added
  // to its JSON line, which is written here.
  void Reports() {
    const auto& errors = FComponent.Connection.Errors;
    std::string list;
    for (; FReportsSeen < errors.size(); ++FReportsSeen) {
      const auto& e = errors[FReportsSeen];
      if (!FJson) {
        std::cout << "  AddError: wcode=" << e.wcode << " source=\"" << e.source << "\" descr=\"" << e.descr
                  << "\" scode=" << e.scode << "\n";
        continue;
      }
      if (!list.empty()) list += ", ";
      list += "{\"wcode\": " + std::to_string(e.wcode) + ", \"source\": " + JsonString(e.source) +
              ", \"descr\": " + JsonString(e.descr) + ", \"scode\": " + std::to_string(e.scode) + "}";
    }
    if (FJson && !FPending.empty()) {
      std::cout << FPending << ", \"reports\": [" << list << "]}\n";
      FPending.clear();
    }
    std::cout << std::flush;
  }

 private:
  void Pending(const std::string& AOpenObject) { FPending = AOpenObject; }

  TComponent& FComponent;
  bool FJson;
  std::string FPending;  // the JSON object of the command, without its reports and closing brace
  size_t FReportsSeen = 0;
};

int Usage(const std::string& AMessage) {
  std::cerr << "addin-host: " << AMessage << "\n(addin-host --help lists the commands)\n";
  return 2;
}

int Run(int argc, char** argv) {
  qd::platform::PrepareConsoleOutput();
  TCommandLine line;
  try {
    line = ReadCommandLine(qd::platform::CommandLineArgs(argc, argv));
  } catch (const std::exception& e) {
    return Usage(e.what());
  }
  if (line.Help) {
    std::cout << kUsage;
    return 0;
  }
  if (line.Version) {
    std::cout << "addin-host " << qd::tools::Version() << "\n";
    return 0;
  }

  std::unique_ptr<TModule> module;
  try {
    module = std::make_unique<TModule>(line.ModulePath);
  } catch (const std::exception& e) {
    std::cerr << "addin-host: " << e.what() << "\n";
    return 3;
  }
  std::string names = module->ClassNames();
  if (line.ClassName.empty()) line.ClassName = names.substr(0, names.find('|'));
  int status = 0;
  {
    std::unique_ptr<TComponent> component;
    try {
      component = std::make_unique<TComponent>(*module, line.ClassName);
    } catch (const std::exception& e) {
      std::cerr << "addin-host: " << e.what() << "\n";
      return 3;
    }
    TComponent& c = *component;
    // Every name resolved before the first call.
    for (TCommand& command : line.Commands) {
      if (command.Name == "prop") {
        command.Index = c.FindProp(command.Target);
        if (command.Index < 0) status = Usage("the component has no property " + command.Target);
      } else if (command.Name == "call" || command.Name == "proc") {
        command.Index = c.FindMethod(command.Target);
        if (command.Index < 0) status = Usage("the component has no method " + command.Target);
      }
      if (status != 0) break;
    }
    TStatusLinePrinter statusLine;
    c.Connection.OnStatusLine = [&statusLine](bool AReset, const std::string& AText) { statusLine.Show(AReset, AText); };
    TPrinter printer(c, line.Json);
    bool failed = false;
    for (size_t i = 0; status == 0 && i < line.Commands.size(); ++i) {
      const TCommand& command = line.Commands[i];
      bool ok = true;
      try {
        if (command.Name == "classes")
          printer.Classes(names);
        else if (command.Name == "info")
          printer.Info();
        else if (command.Name == "methods")
          printer.Methods();
        else if (command.Name == "props")
          printer.Props();
        else if (command.Name == "prop")
          printer.Prop(command);
        else
          ok = printer.Call(command);
      } catch (const std::exception& e) {
        std::cerr << "addin-host: " << command.Name << " " << command.Target << ": " << e.what() << "\n";
        ok = false;
      }
      printer.Reports();
      if (!ok) {
        failed = true;
        if (!line.KeepGoing) break;
      }
    }
    if (status == 0 && failed) status = 1;
    component->Destroy();
    const auto& memory = component->Memory;
    for (const std::string& fault : memory.Faults()) std::cerr << "addin-host: memory fault: " << fault << "\n";
    if (memory.LiveBlocks() != 0)
      std::cerr << "addin-host: memory fault: " << memory.LiveBlocks() << " block(s) not released\n";
    if (!memory.Faults().empty() || memory.LiveBlocks() != 0) status = 4;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "addin-host: " << e.what() << "\n";
    return 2;
  }
}

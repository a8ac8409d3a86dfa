// addin-host: plays the host platform on the command line. Loads a component module through
// its exports, creates a component and runs the commands given, printing every result.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"
#include "common/text.h"
#include "platform/env.h"
#include "platform/fs.h"

using qd::host::TCallResult;
using qd::host::TComponent;
using qd::host::THostValue;
using qd::host::TModule;

namespace {

const char* kUsage =
    "usage: addin-host [--module PATH] [--class NAME] [--keep-going] COMMAND...\n"
    "\n"
    "Loads the module (default: w_quendal7v2k next to this program), creates one component\n"
    "and runs the commands in order, printing every result.\n"
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
    "Arguments (a type letter, a colon and the value):\n"
    "  s:TEXT  i:INTEGER  l:INT64  d:DOUBLE  b:true|false  e:  (empty)\n"
    "  f:FILE  (the UTF-8 text of a file)   x:HEX  (binary block)\n"
    "  t:YYYY-MM-DDTHH:MM:SS  (calendar date and time)\n"
    "\n"
    "Exit status: 0 when every call succeeded, 1 when a call failed (returned false or a\n"
    "false result; the run stops there unless --keep-going), 2 usage, 3 module or class not\n"
    "found, 4 memory faults (leaks, foreign or double frees) found at the end.\n";

bool IsArgument(const std::string& AToken) { return AToken.size() >= 2 && AToken[1] == ':'; }

std::string ReadTextFile(const std::string& APath) {
  std::string text = qd::platform::ReadFile(APath, qd::platform::TLinks::Follow, qd::platform::TShareMode::ReadWrite);
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

THostValue ParseArgument(const std::string& AToken) {
  char type = AToken[0];
  std::string value = AToken.substr(2);
  switch (type) {
    case 's': return THostValue::Text(value);
    case 'i': return THostValue::Int(static_cast<int32_t>(std::stol(value)));
    case 'l': return THostValue::Int64(std::stoll(value));
    case 'd': return THostValue::Double(std::stod(value));
    case 'b': return THostValue::Bool(value == "true" || value == "1" || value == "True");
    case 'e': return THostValue::Empty();
    case 'f': return THostValue::Text(ReadTextFile(value));
    case 'x': {
      std::string bytes;
      for (size_t i = 0; i + 1 < value.size(); i += 2) bytes += static_cast<char>(std::stoi(value.substr(i, 2), nullptr, 16));
      return THostValue::Blob(bytes);
    }
    case 't': {
      int y, mo, d, h = 0, mi = 0, s = 0;
      if (std::sscanf(value.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 3)
        throw std::runtime_error("bad date " + value);
      return THostValue::Tm(y, mo, d, h, mi, s);
    }
    default: throw std::runtime_error("unknown argument type in " + AToken);
  }
}

std::string DefaultModulePath(const char* AArgv0) {
#if defined(_WIN32)
  const char* file = "w_quendal7v2k.dll";
  const char* seps = "\\/";
#else
  const char* file = "w_quendal7v2k.so";
  const char* seps = "/";
#endif
  std::string self = AArgv0 ? AArgv0 : "";
  size_t pos = self.find_last_of(seps);
  return pos == std::string::npos ? std::string(file) : self.substr(0, pos + 1) + file;
}

void PrintReports(TComponent& AComponent, size_t& ASeen) {
  const auto& errors = AComponent.Connection.Errors;
  for (; ASeen < errors.size(); ++ASeen) {
    const auto& e = errors[ASeen];
    std::cout << "  AddError: wcode=" << e.wcode << " source=\"" << e.source << "\" descr=\"" << e.descr
              << "\" scode=" << e.scode << "\n";
  }
}

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

bool PrintCall(TComponent& AComponent, const std::string& AKind, const std::string& AMethod,
               const TCallResult& AResult, bool AFunction) {
  std::cout << AKind << " " << AMethod << ": " << (AResult.Returned ? "true" : "false") << "\n";
  if (AFunction) std::cout << "  result: " << AResult.Result.Describe() << "\n";
  for (size_t i = 0; i < AResult.Args.size(); ++i) std::cout << "  arg " << i << ": " << AResult.Args[i].Describe() << "\n";
  if (AFunction) std::cout << "  LastErrorDescription: \"" << AComponent.LastErrorDescription() << "\"\n";
  bool ok = AResult.Returned;
  if (AFunction && AResult.Result.vt == qd::abi::VTYPE_BOOL && !AResult.Result.i) ok = false;
  return ok;
}

int Run(int argc, char** argv) {
  std::string modulePath = DefaultModulePath(argc > 0 ? argv[0] : nullptr);
  std::string className;
  bool keepGoing = false;
  std::vector<std::string> tokens;
  std::vector<std::string> argList = qd::platform::CommandLineArgs(argc, argv);
  qd::platform::PrepareConsoleOutput();
  for (size_t i = 0; i < argList.size(); ++i) {
    const std::string& a = argList[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--module" && i + 1 < argList.size()) {
      modulePath = argList[++i];
    } else if (a == "--class" && i + 1 < argList.size()) {
      className = argList[++i];
    } else if (a == "--keep-going") {
      keepGoing = true;
    } else {
      tokens.push_back(a);
    }
  }
  if (tokens.empty()) {
    std::cerr << kUsage;
    return 2;
  }

  std::unique_ptr<TModule> module;
  try {
    module = std::make_unique<TModule>(modulePath);
  } catch (const std::exception& e) {
    std::cerr << "addin-host: " << e.what() << "\n";
    return 3;
  }
  std::string names = module->ClassNames();
  if (className.empty()) className = names.substr(0, names.find('|'));
  int status = 0;
  {
    std::unique_ptr<TComponent> component;
    try {
      component = std::make_unique<TComponent>(*module, className);
    } catch (const std::exception& e) {
      std::cerr << "addin-host: " << e.what() << "\n";
      return 3;
    }
    TComponent& c = *component;
    TStatusLinePrinter statusLine;
    c.Connection.OnStatusLine = [&statusLine](bool AReset, const std::string& AText) { statusLine.Show(AReset, AText); };
    size_t reportsSeen = 0;
    for (size_t t = 0; t < tokens.size();) {
      std::string cmd = tokens[t++];
      std::vector<THostValue> args;
      auto takeArgs = [&] {
        while (t < tokens.size() && IsArgument(tokens[t])) args.push_back(ParseArgument(tokens[t++]));
      };
      bool ok = true;
      try {
        if (cmd == "classes") {
          std::cout << "classes: " << names << "\n";
        } else if (cmd == "info") {
          std::cout << "info: " << c.GetInfo() << "\nextension: " << c.RegisterExtensionAs()
                    << "\nproperties: " << c.GetNProps() << "\nmethods: " << c.GetNMethods() << "\n";
        } else if (cmd == "methods") {
          for (int64_t i = 0; i < c.GetNMethods(); ++i)
            std::cout << i << "\t" << c.GetMethodName(i, 0) << "\t" << c.GetMethodName(i, 1) << "\t" << c.GetNParams(i)
                      << "\n";
        } else if (cmd == "props") {
          for (int64_t i = 0; i < c.GetNProps(); ++i) {
            THostValue v;
            c.GetPropValue(i, v);
            std::cout << i << "\t" << c.GetPropName(i, 0) << "\t" << c.GetPropName(i, 1) << "\t"
                      << (c.IsPropWritable(i) ? "rw" : "r") << "\t" << v.Describe() << "\n";
          }
        } else if (cmd == "prop") {
          if (t >= tokens.size()) throw std::runtime_error("prop needs a name");
          std::string name = tokens[t++];
          int64_t index = c.FindProp(name);
          if (index < 0) throw std::runtime_error("no property " + name);
          THostValue v;
          c.GetPropValue(index, v);
          std::cout << "prop " << name << ": " << v.Describe() << "\n";
        } else if (cmd == "call" || cmd == "proc" || cmd == "param" || cmd == "lasterror") {
          std::string method;
          if (cmd == "param") {
            if (t + 1 >= tokens.size()) throw std::runtime_error("param needs a name and a value");
            method = "SetParameter";
            args.push_back(THostValue::Text(tokens[t++]));
            args.push_back(THostValue::Text(tokens[t++]));
          } else if (cmd == "lasterror") {
            method = "GetLastError";
            args = {THostValue::Text(""), THostValue::Text("")};
          } else {
            if (t >= tokens.size()) throw std::runtime_error(cmd + " needs a method name");
            method = tokens[t++];
            takeArgs();
          }
          int64_t index = c.FindMethod(method);
          if (index < 0) throw std::runtime_error("no method " + method);
          bool function = cmd != "proc";
          TCallResult r = function ? c.CallAsFunc(index, args) : c.CallAsProc(index, args);
          ok = PrintCall(c, cmd == "proc" ? "proc" : "call", method, r, function);
        } else {
          std::cerr << "addin-host: unknown command " << cmd << "\n" << kUsage;
          return 2;
        }
      } catch (const std::exception& e) {
        std::cout << cmd << ": " << e.what() << "\n";
        ok = false;
      }
      PrintReports(c, reportsSeen);
      if (!ok) {
        status = 1;
        if (!keepGoing) break;
      }
    }
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

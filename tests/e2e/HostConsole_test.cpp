// kdohost.exe's prompt fed all at once, as a paste or a pipe does: every line
// runs in order, `wait`s included, errors are one line each, and the program
// ends by itself when the input does.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestFolder.h"

namespace {

// A file handle that the started program inherits; closed on the way out.
class InheritedFile {
 public:
  InheritedFile(const char* path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    h_ = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
  }
  ~InheritedFile() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  InheritedFile(const InheritedFile&) = delete;
  InheritedFile& operator=(const InheritedFile&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// Runs kdohost.exe --interactive (and `options`) with `input` as its standard input; its exit
// code, or -1 when it had not ended after `limitMs`; `output` gets what it printed, lines ending in LF.
int RunConsole(const std::string& input, std::string& output, DWORD limitMs, const std::string& options = "") {
  output.clear();
  const std::string inFile = testfolder::Own() + "console_input.txt", outFile = testfolder::Own() + "console_output.txt";
  const char* in = inFile.c_str();
  const char* out = outFile.c_str();
  std::ofstream(in, std::ios::binary) << input;
  int code = -1;
  {
    InheritedFile stdinFile(in, GENERIC_READ, OPEN_EXISTING);
    InheritedFile stdoutFile(out, GENERIC_WRITE, CREATE_ALWAYS);
    if (stdinFile.get() == INVALID_HANDLE_VALUE || stdoutFile.get() == INVALID_HANDLE_VALUE) return -2;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = stdinFile.get();
    si.hStdOutput = stdoutFile.get();
    si.hStdError = stdoutFile.get();
    PROCESS_INFORMATION pi{};
    std::string cmd = "kdohost.exe --interactive " + options + " " + WAC_DLL_NAME;
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -3;
    CloseHandle(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, limitMs) == WAIT_OBJECT_0) {
      DWORD exit = 0;
      GetExitCodeProcess(pi.hProcess, &exit);
      code = int(exit);
    } else {
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hProcess);
  }
  std::ifstream printed(out, std::ios::binary);
  for (auto it = std::istreambuf_iterator<char>(printed); it != std::istreambuf_iterator<char>(); ++it)
    if (*it != '\r') output += *it;  // its console lines end in CR LF
  DeleteFileA(in);
  DeleteFileA(out);
  return code;
}

// Whether every piece appears in `text`, each after the one before; says which did not.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
    const std::size_t found = text.find(piece, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "missing, or out of order: " << piece << "\n--- printed:\n" << text;
    at = found + piece.size();
  }
  return ::testing::AssertionSuccess();
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

TEST(HostConsole, APastedScriptRunsEveryLineThroughItsWaitsAndEnds) {
  // An earlier session's setting, of an instance the script leaves alone.
  const std::string settings = testfolder::Own() + "console_settings.txt";
  std::ofstream(settings, std::ios::binary) << "9\tSettings\tVolumeVar\tV9\n";
  const std::string script =
      "WAC_Play(7)\n"
      "create 7\n"
      "create 7\n"
      "define A integer 1\n"
      "print A\n"
      "wait 300\n"
      "set A 2\n"
      "print A\n"
      "WAC_GetPlaylistLength(7)\n"
      "wait 300\n"
      "WAC_Bogus(7)\n"
      "WAC_SetVolume(7)\n"
      "WAC_SetTrackPosition(7, 90)\n"
      "quit now\n"
      "set A 3\n"
      "print A\n";
  std::string printed;
  EXPECT_EQ(RunConsole(script, printed, 60000, "--settings \"" + settings + "\""), 0)
      << "ends by itself at the end of its input\n" << printed;
  EXPECT_TRUE(InOrder(printed, {
                                   "stored settings read from " + settings + ": instance 9 (1); delete the file"
                                   " to start clean\n",
                                   "error: no instance 7 (create 7 makes it)\n",
                                   "created instance 7",
                                   "error: instance 7 exists already\n",
                                   "A = 1",
                                   "A = 2",
                                   "debug #7 GET PLAYLIST LENGTH",
                                   "WAC_GetPlaylistLength(7) -> -1",
                                   "error: no function 'WAC_Bogus' for instance 7\n",
                                   "error: WAC_SetVolume takes 1 argument(s) after the instance\n",
                                   "WAC_SetTrackPosition(7, 90) -> false",
                                   "error: usage: quit\n",
                                   "A = 3",
                                   "[Winamp Control #7] Interface Destroy",
                               }));
  EXPECT_EQ(Count(printed, "error:"), 5u) << "one line per error\n" << printed;
  EXPECT_EQ(Count(printed, "WAC_SetVolume(7"), 0u) << "the call without its argument ran nothing";
}

TEST(HostConsole, QuitEndsItBeforeTheLinesAfterIt) {
  std::string printed;
  EXPECT_EQ(RunConsole("define A integer 1\n  Quit\nprint A\n", printed, 60000), 0) << printed;
  EXPECT_EQ(Count(printed, "A = "), 0u) << printed;
  EXPECT_EQ(Count(printed, "error:"), 0u) << printed;
}

}  // namespace

// Stands in for netsh.exe in the installer test's Wine prefix: Wine's own
// accepts firewall commands and keeps nothing. Appends its arguments, one
// call a line, to the file WENDRIX_NETSH_LOG names.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  char path[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableA("WENDRIX_NETSH_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return 0;
  const char* line = ::GetCommandLineA();
  // Past the program's own name, quoted or not.
  if (*line == '"') {
    line = std::strchr(line + 1, '"');
    line = line ? line + 1 : "";
  } else {
    while (*line && *line != ' ') ++line;
  }
  while (*line == ' ') ++line;
  if (FILE* log = std::fopen(path, "ab")) {
    std::fprintf(log, "%s\n", line);
    std::fclose(log);
  }
  return 0;
}

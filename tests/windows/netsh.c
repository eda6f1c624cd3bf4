/* A stand-in for netsh.exe in the installer's check: Wine's own has no firewall. It appends its
 * command line to C:\windows\netsh.log, where the check reads which rules were added and removed. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    FILE* log = _wfopen(L"C:\\windows\\netsh.log", L"ab");
    if (!log)
        return 1;
    const char* line = GetCommandLineA();
    fprintf(log, "%s\n", line);
    fclose(log);
    return 0;
}

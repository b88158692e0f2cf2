// Stands in for the driver installers ("NetInst.exe", "IfsInst.exe"): records its command
// line and current folder, then exits with the number of its mode file (default 0).
#include <windows.h>

#include "fake_record.h"

int wmain() {
    fake::recordStart();
    int code = 0;
    FILE* f = _wfopen((fake::selfPath() + L".mode").c_str(), L"rb");
    if (f) {
        if (fscanf(f, "%d", &code) != 1)
            code = 0;
        fclose(f);
    }
    return code;
}

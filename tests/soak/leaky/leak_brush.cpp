// A test build of the Windows saver that leaks GDI brushes: every time a
// brush is selected into a device context (twice for each disc drawn: in, and
// the old one back), one more brush is made and never deleted. The soak must
// fail on it, on the GDI object count alone.
//
// The saver's calls to SelectObject go through the import table's pointer
// __imp_SelectObject; defining that pointer here makes the linker take it
// instead of gdi32's import library, so the saver's own code is unchanged.
#include <windows.h>

namespace {

using SelectObjectFn = HGDIOBJ(WINAPI*)(HDC, HGDIOBJ);

SelectObjectFn RealSelectObject() {
    static const auto real = reinterpret_cast<SelectObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"gdi32.dll"), "SelectObject")));
    return real;
}

HGDIOBJ WINAPI LeakingSelectObject(HDC dc, HGDIOBJ object) {
    if (object != nullptr && GetObjectType(object) == OBJ_BRUSH) {
        CreateSolidBrush(RGB(0, 0, 0));  // never deleted: the leak
    }
    return RealSelectObject()(dc, object);
}

}  // namespace

extern "C" SelectObjectFn __imp_SelectObject = LeakingSelectObject;

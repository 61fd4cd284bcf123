// A thousand lives of the control in Wine's ATL container, in one process:
// create from saved properties, activate in place (the launch runs, the
// client start fails, the completion message ends the host), destroy. What
// the process holds afterwards must not grow with the count.
#include <windows.h>

#include <gtest/gtest.h>

#include <malloc.h>

#include "ControlTestSupport.h"
#include "VantorimaLib.h"
#include "WineTestSupport.h"

using namespace control_test;
using namespace wine_test;

namespace {

constexpr int kWarmUp = 100;
constexpr int kCycles = 1000;

// Open kernel handles: neither Wine's GetProcessHandleCount nor its
// GetGuiResources counts, so the handle values are probed.
int HandleCount()
{
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

// Live GDI objects, from the process's GDI handle table (Wine's layout, the
// same in both builds: 24-byte entries whose type byte is 0 when the entry is
// free).
int GdiObjectCount()
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"  // the fs-relative read of NtCurrentTeb
    const auto* teb = reinterpret_cast<const BYTE*>(NtCurrentTeb());
#pragma GCC diagnostic pop
    // The TEB's PEB pointer and the PEB's GdiSharedHandleTable, at their
    // 64-bit or 32-bit offsets.
    constexpr bool k64 = sizeof(void*) == 8;
    const BYTE* peb = *reinterpret_cast<const BYTE* const*>(teb + (k64 ? 0x60 : 0x30));
    const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + (k64 ? 0xF8 : 0x94));
    if (!table)
        return -1;
    constexpr size_t kEntrySize = 24;
    constexpr size_t kTypeOffset = 14;
    int count = 0;
    for (size_t i = 0; i < 0x10000; ++i)
        count += table[i * kEntrySize + kTypeOffset] != 0;
    return count;
}

BOOL CALLBACK CountWindow(HWND hwnd, LPARAM lParam)
{
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<int*>(lParam);
        EnumChildWindows(hwnd, &CountWindow, lParam);
    }
    return TRUE;
}

int WindowCount()
{
    int count = 0;
    EnumWindows(&CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Bytes in use in the process heap and the C runtime's heap.
SIZE_T HeapBytes()
{
    SIZE_T bytes = 0;
    HANDLE heaps[] = {GetProcessHeap(), reinterpret_cast<HANDLE>(_get_heap_handle())};
    for (HANDLE heap : heaps) {
        PROCESS_HEAP_ENTRY entry = {};
        HeapLock(heap);
        while (HeapWalk(heap, &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                bytes += entry.cbData;
        }
        HeapUnlock(heap);
        if (heaps[0] == heaps[1])
            break;
    }
    return bytes;
}

// Committed private memory of the process (Wine's process memory counters
// report none).
SIZE_T PrivateBytes()
{
    SIZE_T bytes = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (const BYTE* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            bytes += region.RegionSize;
        if (static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize < at)
            break;
    }
    return bytes;
}

struct Usage {
    int handles;
    int gdi;
    int windows;
    SIZE_T heap;
    SIZE_T privateBytes;
};

Usage Measure()
{
    return {HandleCount(), GdiObjectCount(), WindowCount(), HeapBytes(), PrivateBytes()};
}

}  // namespace

TEST(ControlSoak, AThousandCyclesLeaveTheProcessAsTheyFoundIt)
{
    COleApartment apartment;
    COcxModule module;
    ASSERT_EQ(module.Register(), S_OK);
    // Installed in a directory without the client: each start fails
    // unnoticed and the page still ends.
    CScratchDir empty("vantorima soak");
    DeleteSettingsKey();
    WriteSettingsValue("WorkDir", REG_SZ, empty.Path() + '\0');

    // The measures themselves must see what they are meant to.
    const Usage before = Measure();
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const Usage probe = Measure();
    DeleteObject(brush);
    CloseHandle(event);
    ASSERT_EQ(probe.gdi, before.gdi + 1);
    ASSERT_EQ(probe.handles, before.handles + 1);

    CInterfacePtr<IStream> saved;
    {
        CInterfacePtr<IDispatch> control;
        ASSERT_EQ(module.CreateControl(IID_IDispatch, control.PutVoid()), S_OK);
        PutString(control.Get(), L"strID", L"\u68cb\u624b");
        PutString(control.Get(), L"strPass", L"password");
        PutString(control.Get(), L"strServer", L"go.example");
        CInterfacePtr<IPersistStreamInit> persist;
        ASSERT_EQ(control.As(&persist), S_OK);
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, saved.Put()), S_OK);
        ASSERT_EQ(persist->Save(saved.Get(), TRUE), S_OK);
    }

    Usage warm = {};
    int ended = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        if (cycle == kWarmUp)
            warm = Measure();
        LARGE_INTEGER zero = {};
        saved->Seek(zero, STREAM_SEEK_SET, nullptr);
        HWND host = CreateHostWindow("soak", false);
        CInterfacePtr<IUnknown> container;
        CInterfacePtr<IUnknown> control;
        ASSERT_EQ(AtlAxCreateControlEx()(L"VANTORIMA.VantorimaCtrl.1", host, saved.Get(), container.Put(),
                                         control.Put(), IID_NULL, nullptr),
                  S_OK);
        ASSERT_TRUE(FindControlWindow(host)) << cycle;
        ended += PumpUntil([&] { return !IsWindow(host); }, 5000);
        control.Reset();
        container.Reset();
        ASSERT_EQ(module.CanUnloadNow(), S_OK) << cycle;
    }
    const Usage after = Measure();
    EXPECT_EQ(ended, kCycles);

    printf("after %d / %d cycles: handles %d / %d, GDI objects %d / %d, windows %d / %d, heap %lu / %lu bytes, "
           "private %lu / %lu KiB\n",
           kWarmUp, kCycles, warm.handles, after.handles, warm.gdi, after.gdi, warm.windows, after.windows,
           static_cast<unsigned long>(warm.heap), static_cast<unsigned long>(after.heap),
           static_cast<unsigned long>(warm.privateBytes / 1024), static_cast<unsigned long>(after.privateBytes / 1024));
    EXPECT_LE(after.handles, warm.handles);
    EXPECT_LE(after.gdi, warm.gdi);
    EXPECT_LE(after.windows, warm.windows);
    // 900 cycles: even 64 bytes kept per cycle would show.
    EXPECT_LT(after.heap, warm.heap + 32 * 1024);
    EXPECT_LT(after.privateBytes, warm.privateBytes + 2 * 1024 * 1024);

    DeleteSettingsKey();
    EXPECT_EQ(module.Unregister(), S_OK);
}

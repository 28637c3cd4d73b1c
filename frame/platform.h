// The few operating-system calls the plug-ins rest on.
//
// On Windows these are KERNEL32's own functions and this header only pulls in
// <windows.h>. Everywhere else the same names are implemented by our own small
// shared library (platform_posix.cpp), which the plug-ins import just as a DLL
// imports KERNEL32: one copy per process, so a block allocated by a plug-in is
// locked and freed by the host with the very same code, and the live-block
// count seen by tests covers every module.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max stay usable
#endif
// KERNEL32's OpenFile (the OFSTRUCT call, unused here) would hide the name of
// our file guard, OpenFile in local_block.h; it is declared under another name.
#define OpenFile Win32OpenFile
#include <windows.h>
#undef OpenFile

#define PLATFORM_API

#else

#if defined(FRAME_PLATFORM_BUILD)
#define PLATFORM_API extern "C" __attribute__((visibility("default")))
#else
#define PLATFORM_API extern "C"
#endif

using BOOL = int;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using SIZE_T = std::size_t;
using HFILE = int;  // a POSIX file descriptor
using HANDLE = void*;
using HLOCAL = struct LocalBlock*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;

constexpr HFILE HFILE_ERROR = -1;
constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_MOVEABLE = 0x0002;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr int OF_READ = 0;
constexpr int OF_WRITE = 1;
constexpr int OF_READWRITE = 2;
constexpr int FILE_BEGIN = 0;
constexpr int FILE_CURRENT = 1;
constexpr int FILE_END = 2;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Files, addressed by name for one open and closed at once.
PLATFORM_API HFILE _lopen(LPCSTR path, int mode);
// CREATE_NEW fails, with ERROR_FILE_EXISTS, when anything has the name, a
// link included; CREATE_ALWAYS truncates. The handle is a file descriptor, so
// _lwrite and _lclose take it as an HFILE, as KERNEL32's do.
PLATFORM_API HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPVOID security,
                                DWORD disposition, DWORD flags, HANDLE model);
// The reason for the last failure of CreateFileA.
PLATFORM_API DWORD GetLastError();
PLATFORM_API LONG _llseek(HFILE file, LONG offset, int origin);
PLATFORM_API UINT _lread(HFILE file, LPVOID buffer, UINT count);   // HFILE_ERROR as UINT on failure
PLATFORM_API UINT _lwrite(HFILE file, LPCSTR buffer, UINT count);  // HFILE_ERROR as UINT on failure
PLATFORM_API HFILE _lclose(HFILE file);
PLATFORM_API DWORD GetFileSize(HANDLE file, DWORD* high);
PLATFORM_API BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
PLATFORM_API BOOL DeleteFileA(LPCSTR path);

// Local memory. A handle is self-describing, so any module of the process can
// lock and free it.
PLATFORM_API HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
PLATFORM_API LPVOID LocalLock(HLOCAL block);
PLATFORM_API BOOL LocalUnlock(HLOCAL block);
PLATFORM_API HLOCAL LocalFree(HLOCAL block);
PLATFORM_API SIZE_T LocalSize(HLOCAL block);

// Strings.
PLATFORM_API LPSTR lstrcpynA(LPSTR to, LPCSTR from, int limit);
PLATFORM_API int lstrlenA(LPCSTR text);
PLATFORM_API int lstrcmpA(LPCSTR a, LPCSTR b);

// Test control, POSIX only: how many local blocks are alive in the process,
// and faults to inject into the next operations. Not part of any plug-in.
enum class PlatformFault : int {
  kAlloc = 0,   // LocalAlloc returns NULL
  kOpen,        // _lopen returns HFILE_ERROR, CreateFileA INVALID_HANDLE_VALUE
  kRead,        // _lread returns HFILE_ERROR
  kShortRead,   // _lread delivers half of what it would have
  kWrite,       // _lwrite returns HFILE_ERROR
  kShortWrite,  // _lwrite writes half and reports it
  kClose,       // _lclose reports HFILE_ERROR (the descriptor is still closed)
  kSeek,        // _llseek returns HFILE_ERROR, the position kept
  kCount
};
PLATFORM_API long PlatformLiveBlocks();
// How many blocks were freed while still locked: KERNEL32 frees them too, but
// its debugging build stops at each one.
PLATFORM_API long PlatformLockedFrees();
// The nth call (1-based) of the operation from now on fails; 0 disarms it.
PLATFORM_API void PlatformFailNth(PlatformFault fault, long nth);
// How many calls of the operation were made since the last reset.
PLATFORM_API long PlatformCalls(PlatformFault fault);
PLATFORM_API void PlatformResetFaults();
// From now on every block allocated without LMEM_ZEROINIT starts filled with
// this byte, as under a debugging heap, so that bytes a plug-in hands out
// without setting them show; -1 (the default) leaves them as they come.
PLATFORM_API void PlatformFillNewBlocks(int byte);

#endif

// windows.h makes GetMessage a macro: quorvex.hpp compiles included before
// it or after it, a host's call of Session::GetMessage reaches the method,
// and the Win32 GetMessage keeps its meaning.
#ifdef QUORVEX_WINDOWS_H_FIRST
#include <windows.h>
#include <quorvex.hpp>
#else
#include <quorvex.hpp>
#include <windows.h>
#endif

quorvex::Result<> latest_message(quorvex::SessionView &session);
quorvex::Result<> latest_message(quorvex::SessionView &session) { return session.GetMessage(); }

BOOL(WINAPI *const win32_get_message)(LPMSG, HWND, UINT, UINT) = GetMessage;

// Text put on the clipboard by the copy commands.
#pragma once

#include <windows.h>

#include <cstddef>

// Puts `wide` (`length` units, without its zero) on the clipboard as Unicode
// text and, when given, `ascii` beside it as text, so that no program gets
// one converted by a code page. False when the clipboard could not be had
// (another program holding it) or took nothing.
bool putTextOnClipboard(HWND owner, const WCHAR* wide, std::size_t length, const char* ascii = nullptr);

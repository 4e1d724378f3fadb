/* The tablet interface header Qt's Windows platform plugin includes. The plugin loads the
   tablet library at run time and needs only the interface's types and constants: Wine's header
   of the same interface (copied beside this file as wine-wintab.h) declares them, with the
   names of its A/W variants and its calling convention given by the three macros Wine's own
   headers would supply. */
#pragma once
#include <windows.h>
#ifdef UNICODE
#define WINELIB_NAME_AW(name) name##W
#else
#define WINELIB_NAME_AW(name) name##A
#endif
#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
/* The interface's calling convention, as the plugin's function pointer types name it. */
#define API WINAPI
#include "wine-wintab.h"

// Everything the program uses of the framework.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/App.h"
#include "framework/Dialog.h"
#include "framework/Gdi.h"
#include "framework/String.h"
#include "framework/Wnd.h"

// m32_core: the Qt-free base every part of the tool stands on.
//
// Class map:
//   StatusFlags, IoBytes, SharedStatus
//                 - the one-byte flags, the output and input bytes and the two
//                   countdowns the UI thread and the workers share
//                   (shared_status.h)
//   Heartbeat     - ages the countdowns at every 55 ms tick (heartbeat.h)
//   Worker        - a thread that hands its steps to the UI thread and waits
//                   for each (worker.h)
//   UiInvoker     - runs a step on the UI thread and returns when it has run;
//                   InlineInvoker runs it on the calling thread (worker.h)
//   ScanInt, ScanShort
//                 - an edit field's text read as a "%d"/"%hd" scan would,
//                   saturated instead of overflowing (number_fields.h)
//   CodePage, DecodeByte, AppendUtf8, ReadUtf8
//                 - single-byte Windows code pages (1250, 1251, 1252, 1253,
//                   Symbol) decoded to UTF-8, and UTF-8 read back (code_page.h)
//   Cp1250ToUtf8, Utf8ToCp1250
//                 - Windows-1250, the code page of every user text, both ways
//                   (code_page.h)
//   kKeyEnter, kKeyEscape
//                 - the key codes the field rules work with (key_codes.h)
//
// The Qt side of the hand-off (QtUiInvoker, the pumping waits) is in qt/.
#pragma once

#include "core/code_page.h"
#include "core/heartbeat.h"
#include "core/key_codes.h"
#include "core/number_fields.h"
#include "core/shared_status.h"
#include "core/worker.h"

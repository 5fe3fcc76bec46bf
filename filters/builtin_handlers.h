#pragma once

#include "filters/plugin_api/vantor_plugin.h"

// The three handlers built into the program ("Internal").
extern "C" {
int32_t FL_PrintStdHead(const void *data, int32_t size, TOutputProc output);
int32_t FL_DumpMessage(const void *data, int32_t size, TOutputProc output);
int32_t FL_PrintTextMessage(const void *data, int32_t size, TOutputProc output);
}

// Appends the three built-in rows ("Internal") to the handler table; they
// take rows 0, 1 and 2 when the table starts empty.
void RegisterBuiltinHandlers();

// True when a handler call is a capture notification rather than a packet.
bool IsNotification(const void *data, int32_t size);

// Linux operating-system services of the core layer.
#pragma once

// Sleeps whole seconds (through the C library, so tests can make it instant); 0.
int OSSSleep(unsigned int seconds);
// The core log's sink: silent while the sink's quiet flag is set.
int OSSLogMessage(int level, const char* text);

// Quiet flag of the log sink: copied from the core quiet mode by OSSInitialize.
void OSSSetLogQuiet(int quiet);
int OSSGetLogQuiet();

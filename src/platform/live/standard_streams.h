#pragma once

namespace skyrazor {

// Makes standard input, output and error carry bytes unchanged. Windows opens
// them in text mode, which turns each "\n" written into "\r\n" and stops
// reading at a Ctrl-Z byte; scripted runs need the same bytes everywhere.
// Elsewhere there is nothing to do.
void useBinaryStandardStreams();

}  // namespace skyrazor

// Stored form of the agent's configuration files: RC4 with the 7-byte key rule, byte-order
// marks, classification of an attached file, its deciphered bytes and line cutting, one concern
// per header, all of them here for the readers. Portable: no <windows.h>. Both file readers
// (CCryptFileReader, CCryptFileHelper) embed their own TextDecoder, so they share the rules and
// no state.
#pragma once

#include "cryptfile/byte_source.h"
#include "cryptfile/classification.h"
#include "cryptfile/deciphered_stream.h"
#include "cryptfile/rc4.h"
#include "cryptfile/text_decoder.h"

// ELS echo requests to a remote port, through the management library.
#pragma once

#include <cstdint>
#include <span>

#include "mgmt/sd_types.h"

// Sends the request as an ELS passthrough (both bytes traced eight a line);
// the library's status, 0 without sending for an empty request.
uint32_t CoreSendElsEcho(int handle, uint32_t port, PDESTINATIONADDRESS destination, std::span<const uint8_t> request,
                         std::span<uint8_t> response, uint32_t* responseLength);
// Sends the library's own echo request; its status.
uint32_t CoreGetElsEchoPath(int handle, uint32_t port, PDESTINATIONADDRESS destination,
                            std::span<const uint8_t> request, std::span<uint8_t> response, uint32_t* responseLength);

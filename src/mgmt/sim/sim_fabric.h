// The fabric's services as a port sees them through common transport (CT)
// requests: the fabric configuration server's interconnect elements and
// their domain ids, and the name server's names for the port's address.
#pragma once

#include <cstddef>
#include <span>

#include "mgmt/sim/sim_host.h"

// Answers one CT request (request preamble and payload in `in`); the answer
// is cut to `out`. 0x20000064 for a request shorter than its preamble or an
// answer span shorter than one.
SD_UINT32 zvsim_ct_answer(const zvsim_port& port, std::span<const SD_UINT8> in, std::span<SD_UINT8> out,
                          size_t& outLen);

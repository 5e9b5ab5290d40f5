// The input of the querier target: datagrams received one after another,
// each framed as [time step, tens of ms: 1 byte][length: 2 bytes, big
// endian][the datagram]. Shared by the target and the seed writer.
#pragma once

#include <cstdint>
#include <vector>

inline void AppendQuerierFrame(std::vector<uint8_t>* out, uint8_t stepTensOfMs,
                               const std::vector<uint8_t>& datagram) {
  out->push_back(stepTensOfMs);
  out->push_back(static_cast<uint8_t>(datagram.size() >> 8));
  out->push_back(static_cast<uint8_t>(datagram.size()));
  out->insert(out->end(), datagram.begin(), datagram.end());
}

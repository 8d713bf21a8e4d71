// Shared body of the reader fuzz targets: the reader must fail cleanly (with a
// message) or give a record whose rewrite is stable: write, read, write gives
// the same bytes. `write(record, buf, cap)` measures with a null buffer.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/progress.h"

template <typename Record, typename Write>
int FuzzRewriteStable(const uint8_t* data, size_t size, Write write) {
  auto rewrite = [&](Record& r) {
    std::vector<uint8_t> out(write(r, nullptr, 0));
    write(r, out.data(), out.size());
    return out;
  };
  Record r;
  std::string err;
  if (r.Parse(data, size, &err) != zv::kOk) {
    if (err.empty()) std::abort();
    return 0;
  }
  (void)r.DumpText();
  std::vector<uint8_t> first;
  try {
    first = rewrite(r);
  } catch (const std::out_of_range&) {
    return 0;  // a foreign file whose canonical form exceeds a field width
  }
  Record again;
  if (again.Parse(first.data(), first.size(), &err) != zv::kOk) std::abort();
  if (rewrite(again) != first) std::abort();
  return 0;
}

// Fuzzes every argument filter and the data-value filter. The first byte
// picks the filter; the rest is decoded. Whatever decodes is encoded, decoded
// again and encoded again: the two encodings must be the same bytes. Every
// decode, failed or not, is followed by the free pass, so the sanitizers see
// any leak or stray write.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "dispatch/frame.h"
#include "wire_filters.h"
#include "xdr/argument_records.h"
#include "xdr/data_value.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

namespace {

const XdrFilter kFilters[] = {
    untypedFilter<&X_InteropHandle>,
    untypedFilter<&X_udt_integer>,
    untypedFilter<&X_OptionalString>,
    untypedFilter<&X_stringUTF16>,
    untypedFilter<&X_string_info>,
    untypedFilter<&X_VornDataType>,
    untypedFilter<&X_HandleHandle>,
    untypedFilter<&X_HandleLong>,
    untypedFilter<&X_HandleInt>,
    untypedFilter<&X_HandleValue>,
    untypedFilter<&X_HandleHandleValue>,
    untypedFilter<&X_HandleValueValueInt>,
    untypedFilter<&X_HandleValueLongInt>,
    untypedFilter<&X_HandleHandleLong>,
    untypedFilter<&X_HandleValueHandle>,
    untypedFilter<&X_HandleValueValue>,
    untypedFilter<&X_HandleValueValueHandle>,
    untypedFilter<&X_HandleHandleHandleValue>,
    untypedFilter<&X_HandleHandleHandle>,
    untypedFilter<&X_HandleValueLong>,
    untypedFilter<&X_HandleHandleValueValue>,
};

// A zeroed record, released with its filter's free pass when it goes.
class Record {
 public:
  explicit Record(XdrFilter filter) : filter_(filter) { std::memset(storage_, 0, sizeof storage_); }
  ~Record() {
    XDR free{};
    free.x_op = XDR_FREE;
    filter_(&free, storage_);
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  void* get() { return storage_; }

 private:
  XdrFilter filter_;
  alignas(std::max_align_t) unsigned char storage_[qovix::kArgumentRecordCapacity];
};

bool decode(XdrFilter filter, const std::uint8_t* bytes, std::size_t size, Record& record) {
  XDR stream{};
  xdrmem_create(&stream, reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes)),
                static_cast<u_int>(size), XDR_DECODE);
  return filter(&stream, record.get()) != 0;
}

std::vector<std::uint8_t> encode(XdrFilter filter, Record& record, std::size_t capacity) {
  std::vector<std::uint8_t> bytes(capacity);
  XDR stream{};
  xdrmem_create(&stream, reinterpret_cast<char*>(bytes.data()), static_cast<u_int>(bytes.size()),
                XDR_ENCODE);
  if (!filter(&stream, record.get())) std::abort();  // what decoded must encode
  bytes.resize(xdr_getpos(&stream));
  return bytes;
}

}  // namespace

// The host services' records hold C++ containers: each is decoded into its own
// type, then encoded, decoded and encoded again, as above.
template <class T>
void roundTrip(bool_t (*filter)(XDR*, T*), const std::uint8_t* bytes, std::size_t size) {
  T first{};
  XDR stream{};
  xdrmem_create(&stream, reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes)),
                static_cast<u_int>(size), XDR_DECODE);
  if (!filter(&stream, &first)) return;
  const XdrFilter untyped = reinterpret_cast<XdrFilter>(filter);
  std::vector<std::uint8_t> once(2 * size + 1024);
  xdrmem_create(&stream, reinterpret_cast<char*>(once.data()), static_cast<u_int>(once.size()),
                XDR_ENCODE);
  if (!untyped(&stream, &first)) std::abort();
  once.resize(xdr_getpos(&stream));
  T second{};
  xdrmem_create(&stream, reinterpret_cast<char*>(once.data()), static_cast<u_int>(once.size()),
                XDR_DECODE);
  if (!filter(&stream, &second)) std::abort();
  std::vector<std::uint8_t> twice(once.size() + 16);
  xdrmem_create(&stream, reinterpret_cast<char*>(twice.data()), static_cast<u_int>(twice.size()),
                XDR_ENCODE);
  if (!untyped(&stream, &second)) std::abort();
  twice.resize(xdr_getpos(&stream));
  if (twice != once) std::abort();
}

// Every record of the host services, by the generated list of their filters.
void hostRecord(std::uint8_t which, const std::uint8_t* bytes, std::size_t size) {
  const std::size_t chosen = which % std::tuple_size_v<decltype(kWireFilters)>;
  std::apply(
      [&](auto... filters) {
        std::size_t index = 0;
        ((index++ == chosen ? roundTrip(filters, bytes, size) : void()), ...);
      },
      kWireFilters);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // Past the argument filters, the host services' records: the second byte
  // chooses one, in the generated list's order.
  if (data[0] >= 0xF0) {
    if (size >= 2) hostRecord(data[1], data + 2, size - 2);
    return 0;
  }
  const XdrFilter filter = kFilters[data[0] % std::size(kFilters)];
  Record first(filter);
  if (!decode(filter, data + 1, size - 1, first)) return 0;
  // Decoding may add a terminator unit per text; every unit is one word.
  const std::size_t capacity = 2 * size + 1024;
  const std::vector<std::uint8_t> once = encode(filter, first, capacity);
  Record second(filter);
  if (!decode(filter, once.data(), once.size(), second)) std::abort();
  if (encode(filter, second, capacity) != once) std::abort();
  return 0;
}

// The reader's status byte and the library's result codes. Device class 3 (the default) uses
// one table, classes 1 and 2 the other; a status a table does not list gives -20.
#pragma once

#include <cstdint>

namespace zr::protocol {

// What the reader reports, by name; each device class has its own status byte for some.
enum class ReaderError {
    unknown_command,
    bad_request,     // a request whose length or fields make no sense
    no_tag,          // no tag in the field matches
    wrong_password,
    locked,          // the memory or region is locked
    out_of_range,    // an address beyond the tag's memory
};

// The status byte a reader of `device_class` sends for `e`.
std::uint8_t status_byte(ReaderError e, int device_class);

// What the reader means by `status`, where its device class names it; null elsewhere.
const char* status_meaning(std::uint8_t status, int device_class);

// The result code of `status` in the table of `device_class`.
int map_status(std::uint8_t status, int device_class);

// The status byte that a result code of the tables stands for, or -1 for any other code.
int status_of_result(int result);

// "reader status 0xNN" (with its meaning, where the device class that gives `result` names
// it) for the status that `result` stands for, or null for a code that stands for no status.
// Static storage: the pointer stays valid for good.
const char* status_result_text(int result);

}  // namespace zr::protocol

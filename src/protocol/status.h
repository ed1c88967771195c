// The reader's status byte and the library's result codes. Device class 3 (the default) uses
// one table, classes 1 and 2 the other; a status a table does not list gives -20.
#pragma once

#include <cstdint>

namespace zr::protocol {

// The result code of `status` in the table of `device_class`.
int map_status(std::uint8_t status, int device_class);

// The status byte that a result code of the tables stands for, or -1 for any other code.
int status_of_result(int result);

// "reader status 0xNN" for the status that `result` stands for, or null for a code that
// stands for no status. Static storage: the pointer stays valid for good.
const char* status_result_text(int result);

}  // namespace zr::protocol

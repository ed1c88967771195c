// The simulator speaks the library's own protocol layer: frames, codes and codecs come from
// there, so that both sides cannot drift apart.
#pragma once

#include "protocol/codes.h"
#include "protocol/frame.h"
#include "protocol/hex.h"
#include "protocol/serial_codec.h"
#include "protocol/status.h"

namespace zr::sim {

using protocol::Bytes;
using protocol::command_name;
using protocol::hex;
using protocol::parse_hex;
using protocol::reply_payload;
using protocol::serial_wire;
using protocol::with_crc;
using FrameDecoder = protocol::Deframer;
namespace code = protocol::code;

}  // namespace zr::sim

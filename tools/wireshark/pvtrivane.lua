-- Trivane console traffic for Wireshark and tshark:
--   tshark -X lua_script:tools/wireshark/pvtrivane.lua -r capture.pcap
--
-- pvtrivane      the 556-byte control packets on UDP 6007 (also found by
--                their first bytes "TVN\0PRV\0" on any port): heartbeat,
--                acceptance, shutdown and the autofocus bodies.
-- pvtrivane_dmx  the consoles' DMX datagrams on UDP 9138: the 48-byte header,
--                what the driver's acceptance rule makes of it, and each
--                universe block's changed channels as channel=level (channels
--                0-based, as the driver numbers them).
--
-- Malformed input is marked as such; the dissector never raises a Lua error.

local CONTROL_PORT = 6007
local DMX_PORT = 9138
local PACKET_SIZE = 556

---------------------------------------------------------------- control

local pv = Proto("pvtrivane", "Trivane console control")

local msg_types = {
  [0] = "(none)", [1] = "PD_HEARTBEAT", [2] = "PD_ACCEPT", [3] = "PD_MIDI_AUTOFOCUS",
  [4] = "PD_SHUTDOWN", [5] = "PD_BLIND_AF_DMX", [6] = "PD_BLIND_AF_SELECTION",
}

local f = pv.fields
f.magic = ProtoField.string("pvtrivane.magic", "Magic")
f.protocol = ProtoField.string("pvtrivane.protocol_id", "ProtocolId")
f.total_length = ProtoField.uint32("pvtrivane.total_length", "TotalLength")
f.signature = ProtoField.uint32("pvtrivane.signature", "Signature")
f.type = ProtoField.uint32("pvtrivane.type", "MsgType", base.DEC, msg_types)
f.type_name = ProtoField.string("pvtrivane.type_name", "Type name")
f.receiving = ProtoField.uint32("pvtrivane.receiving", "Receiving")
f.spot = ProtoField.int32("pvtrivane.spot", "Spot")
f.port = ProtoField.uint32("pvtrivane.port", "Port")
f.count = ProtoField.uint32("pvtrivane.count", "Count")
f.status_mask = ProtoField.uint32("pvtrivane.status_mask", "StatusMask", base.HEX)
f.midi = ProtoField.bytes("pvtrivane.midi", "MIDI message bytes (data, checksum, F7)")
f.pairs = ProtoField.string("pvtrivane.pairs", "Channel=level pairs")
f.pair_channel = ProtoField.uint16("pvtrivane.pair.channel", "Channel")
f.pair_level = ProtoField.uint16("pvtrivane.pair.level", "Level")
f.entries = ProtoField.string("pvtrivane.entries", "Selection entries (spot:status)")
f.entry_spot = ProtoField.int32("pvtrivane.entry.spot", "Spot")
f.entry_status = ProtoField.int32("pvtrivane.entry.status", "Status")

local ex_short = ProtoExpert.new("pvtrivane.short", "Control packet shorter than 556 bytes",
                                 expert.group.MALFORMED, expert.severity.ERROR)
local ex_signature = ProtoExpert.new("pvtrivane.signature.ignored", "Signature is not 5600: the driver ignores it",
                                     expert.group.PROTOCOL, expert.severity.WARN)
local ex_count = ProtoExpert.new("pvtrivane.count.range", "Count does not fit the packet",
                                 expert.group.MALFORMED, expert.severity.ERROR)
local ex_broken = ProtoExpert.new("pvtrivane.malformed", "Malformed packet",
                                  expert.group.MALFORMED, expert.severity.ERROR)
pv.experts = { ex_short, ex_signature, ex_count, ex_broken }

local function u32(tvb, offset) return tvb(offset, 4):le_uint() end

-- `count` items of two fields each (`width` bytes apiece, `width` * 2 an
-- item) from offset 44: one summary line ("a<sep>b,...") with the fields
-- beneath it. Signed items are read as such.
local function item_list(tvb, tree, list_field, fields, count, width, sep, signed)
  local function value(at) return signed and tvb(at, width):le_int() or tvb(at, width):le_uint() end
  local text = {}
  for i = 0, count - 1 do
    local at = 44 + 2 * width * i
    text[#text + 1] = value(at) .. sep .. value(at + width)
  end
  local list = tree:add(list_field, tvb(44, 2 * width * count), table.concat(text, ","))
  for i = 0, count - 1 do
    local at = 44 + 2 * width * i
    list:add_le(fields[1], tvb(at, width))
    list:add_le(fields[2], tvb(at + width, width))
  end
end

local function control_body(tvb, tree, msg_type)
  local count = u32(tvb, 36)
  if msg_type == 1 then
    tree:add_le(f.receiving, tvb(20, 4))
  elseif msg_type == 3 then
    tree:add_le(f.count, tvb(36, 4))
    if count + 2 > 512 then tree:add_proto_expert_info(ex_count); return end
    tree:add(f.midi, tvb(44, count + 2))
  elseif msg_type == 5 then
    tree:add_le(f.spot, tvb(24, 4))
    tree:add_le(f.port, tvb(32, 4))
    tree:add_le(f.count, tvb(36, 4))
    if count > 128 then tree:add_proto_expert_info(ex_count); return end
    item_list(tvb, tree, f.pairs, { f.pair_channel, f.pair_level }, count, 2, "=", false)
  elseif msg_type == 6 then
    tree:add_le(f.count, tvb(36, 4))
    tree:add_le(f.status_mask, tvb(40, 4))
    if count > 64 then tree:add_proto_expert_info(ex_count); return end
    item_list(tvb, tree, f.entries, { f.entry_spot, f.entry_status }, count, 4, ":", true)
  end
end

local function control(tvb, pinfo, root)
  pinfo.cols.protocol = "PVTRIVANE"
  local tree = root:add(pv, tvb())
  if tvb:len() < 20 then
    tree:add_proto_expert_info(ex_short)
    pinfo.cols.info = "short control datagram (" .. tvb:len() .. " bytes)"
    return
  end
  tree:add(f.magic, tvb(0, 4))
  tree:add(f.protocol, tvb(4, 4))
  tree:add_le(f.total_length, tvb(8, 4))
  tree:add_le(f.signature, tvb(12, 4))
  tree:add_le(f.type, tvb(16, 4))
  local msg_type = u32(tvb, 16)
  local name = msg_types[msg_type] or ("type " .. msg_type)
  tree:add(f.type_name, tvb(16, 4), name)
  pinfo.cols.info = name
  if u32(tvb, 12) ~= 5600 then tree:add_proto_expert_info(ex_signature) end
  if tvb:len() < PACKET_SIZE then
    tree:add_proto_expert_info(ex_short)
    return
  end
  control_body(tvb, tree, msg_type)
end

function pv.dissector(tvb, pinfo, root)
  local ok = pcall(control, tvb, pinfo, root)
  if not ok then root:add_proto_expert_info(ex_broken) end
end

---------------------------------------------------------------- DMX

local dmx = Proto("pvtrivane_dmx", "Trivane console DMX")

local packet_types = {
  [0] = "SHUTUP", [1] = "ACK", [2] = "ALIVE", [3] = "Invite", [4] = "Dissmiss", [5] = "Join",
  [6] = "Goddbye session", [7] = "Goodbye Network", [8] = "Session Create", [9] = "Slots",
  [10] = "Traffic Status", [11] = "Master Present", [12] = "Master Change", [13] = "Master TakeOver",
  [14] = "DMX Info Request", [15] = "Open Switch", [16] = "Idle", [17] = "Init", [18] = "Data",
  [19] = "Owner Data", [20] = "Rootrequest", [21] = "Realtime Data", [22] = "Channel Data",
  [23] = "DMX Data", [24] = "DMX Data new", [25] = "ILLEGAL",
}

local d = dmx.fields
d.payload_length = ProtoField.uint16("pvtrivane_dmx.payload_length", "PayloadLength")
d.control_word = ProtoField.uint32("pvtrivane_dmx.control_word", "ControlWord", base.HEX)
d.packet_type = ProtoField.uint32("pvtrivane_dmx.packet_type", "PacketType", base.DEC, packet_types, 0x0000001F)
d.no_decode = ProtoField.uint32("pvtrivane_dmx.no_decode", "No-decode flag", base.DEC, nil, 0x00000020)
d.field12 = ProtoField.uint32("pvtrivane_dmx.field12", "12-bit field", base.HEX, nil, 0x03FFC000)
d.version = ProtoField.uint32("pvtrivane_dmx.version", "Version", base.DEC, nil, 0xFC000000)
d.verdict = ProtoField.string("pvtrivane_dmx.verdict", "Driver's verdict")
d.mask = ProtoField.bytes("pvtrivane_dmx.universe_mask", "Universe mask")
d.universes = ProtoField.string("pvtrivane_dmx.universes", "Universes")
d.universe = ProtoField.uint8("pvtrivane_dmx.universe", "Universe")
d.block_length = ProtoField.uint16("pvtrivane_dmx.block_length", "Block length")
d.record_type = ProtoField.uint8("pvtrivane_dmx.record_type", "Data type", base.DEC,
                                 { [0] = "end", [1] = "levels, bank 1", [2] = "levels, bank 2",
                                   [3] = "raw, bank 1", [4] = "raw, bank 2" })
d.levels = ProtoField.string("pvtrivane_dmx.levels", "Changed channels (channel=level)")
d.raw = ProtoField.bytes("pvtrivane_dmx.raw", "Raw record")

local ex_dropped = ProtoExpert.new("pvtrivane_dmx.dropped", "The driver drops this datagram",
                                   expert.group.PROTOCOL, expert.severity.WARN)
local ex_block = ProtoExpert.new("pvtrivane_dmx.malformed", "Malformed universe block",
                                 expert.group.MALFORMED, expert.severity.ERROR)
dmx.experts = { ex_dropped, ex_block }

-- The acceptance rule: version 7, length PayloadLength + 48, type 24, flag 0.
local function verdict(tvb)
  if tvb:len() < 48 then return "dropped: shorter than the 48-byte header" end
  local word = tvb(12, 4):le_uint()
  local version = bit.rshift(word, 26)
  if version ~= 7 then return "dropped: version " .. version .. ", not 7" end
  local payload = tvb(8, 2):le_uint()
  if tvb:len() ~= payload + 48 then
    return "dropped: " .. tvb:len() .. " bytes, PayloadLength + 48 is " .. (payload + 48)
  end
  if bit.band(word, 0x1F) ~= 24 then return "dropped: type " .. bit.band(word, 0x1F) .. ", not 24" end
  if bit.band(word, 0x20) ~= 0 then return "dropped: no-decode flag set" end
  return "decoded"
end

-- A level record at `at` within the block ending at `block_end`: its
-- channel=level list and the offset after it, or nil when it is cut.
local function level_record(tvb, at, block_end)
  local changes = {}
  if at >= block_end then return nil end
  local m0 = tvb(at, 1):uint(); at = at + 1
  for i = 0, 7 do
    if bit.band(m0, bit.lshift(1, i)) ~= 0 then
      if at >= block_end then return nil end
      local m1 = tvb(at, 1):uint(); at = at + 1
      for j = 0, 7 do
        if bit.band(m1, bit.lshift(1, j)) ~= 0 then
          if at >= block_end then return nil end
          local m2 = tvb(at, 1):uint(); at = at + 1
          for k = 0, 7 do
            if bit.band(m2, bit.lshift(1, k)) ~= 0 then
              if at >= block_end then return nil end
              changes[#changes + 1] = (64 * i + 8 * j + k) .. "=" .. tvb(at, 1):uint()
              at = at + 1
            end
          end
        end
      end
    end
  end
  return changes, at
end

local function universe_block(tvb, tree, universe, at, block_end)
  local block = tree:add(d.universe, tvb(at - 2, block_end - at + 2), universe)
  block:add_le(d.block_length, tvb(at - 2, 2))
  while at < block_end do
    local record_type = tvb(at, 1):uint()
    block:add(d.record_type, tvb(at, 1))
    at = at + 1
    if record_type == 0 then
      if at ~= block_end then block:add_proto_expert_info(ex_block) end
      return
    elseif record_type == 1 or record_type == 2 then
      local changes, after = level_record(tvb, at, block_end)
      if changes == nil then block:add_proto_expert_info(ex_block); return end
      block:add(d.levels, tvb(at, after - at), table.concat(changes, ","))
      at = after
    elseif record_type == 3 or record_type == 4 then
      if at >= block_end then block:add_proto_expert_info(ex_block); return end
      local n = tvb(at, 1):uint()
      if at + 1 + n > block_end then block:add_proto_expert_info(ex_block); return end
      if n > 0 then block:add(d.raw, tvb(at + 1, n)) end
      at = at + 1 + n
    else
      block:add_proto_expert_info(ex_block)
      return
    end
  end
end

local function dmx_datagram(tvb, pinfo, root)
  pinfo.cols.protocol = "PVTRIVANE-DMX"
  local tree = root:add(dmx, tvb())
  local judged = verdict(tvb)
  tree:add(d.verdict, tvb(0, math.min(tvb:len(), 48)), judged)
  if tvb:len() < 48 then
    tree:add_proto_expert_info(ex_dropped, judged)
    pinfo.cols.info = judged
    return
  end
  tree:add_le(d.payload_length, tvb(8, 2))
  local word = tree:add_le(d.control_word, tvb(12, 4))
  word:add_le(d.packet_type, tvb(12, 4))
  word:add_le(d.no_decode, tvb(12, 4))
  word:add_le(d.field12, tvb(12, 4))
  word:add_le(d.version, tvb(12, 4))
  pinfo.cols.info = packet_types[bit.band(tvb(12, 4):le_uint(), 0x1F)] or "?"
  if judged ~= "decoded" then
    tree:add_proto_expert_info(ex_dropped, judged)
    pinfo.cols.info = judged
    return
  end
  local length = tvb(8, 2):le_uint()
  if length < 12 then tree:add_proto_expert_info(ex_block); return end
  tree:add(d.mask, tvb(52, 8))
  local at = 60
  local present = {}
  for g = 0, 7 do
    local byte = tvb(52 + g, 1):uint()
    for b = 0, 7 do
      if bit.band(byte, bit.lshift(1, b)) ~= 0 then
        local universe = 8 * g + b
        present[#present + 1] = universe
        if at + 2 > tvb:len() then tree:add_proto_expert_info(ex_block); return end
        local block_length = tvb(at, 2):le_uint()
        local block_end = at + 2 + block_length
        if block_end > tvb:len() then tree:add_proto_expert_info(ex_block); return end
        universe_block(tvb, tree, universe, at + 2, block_end)
        at = block_end
      end
    end
  end
  tree:add(d.universes, tvb(52, 8), table.concat(present, ","))
  pinfo.cols.info = "DMX Data new, universes " .. table.concat(present, ",")
end

function dmx.dissector(tvb, pinfo, root)
  local ok = pcall(dmx_datagram, tvb, pinfo, root)
  if not ok then root:add_proto_expert_info(ex_block) end
end

---------------------------------------------------------------- registration

local udp = DissectorTable.get("udp.port")
udp:add(CONTROL_PORT, pv)
udp:add(DMX_PORT, dmx)

pv:register_heuristic("udp", function(tvb, pinfo, root)
  if tvb:len() < 8 or tvb(0, 8):bytes():tohex() ~= "54564E0050525600" then return false end
  pv.dissector(tvb, pinfo, root)
  return true
end)

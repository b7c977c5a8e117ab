-- Trivane console traffic for Wireshark and tshark:
--   tshark -X lua_script:tools/wireshark/pvtrivane.lua -r capture.pcapng [-q -z pvtrivane,stat]
-- pvtrivane: the control packets on UDP 6007 (or starting "TVN\0PRV\0" on any
-- port), read as the driver reads them (a short one zero-filled to 556 bytes).
-- pvtrivane_dmx: the DMX datagrams on UDP 9138: the header, the driver's
-- verdict (decoded, malformed or dropped, and why, following its receiver
-- and decoder step by step), per universe the levels the host sees change
-- (channels 1-512), bank-2 levels apart. -z pvtrivane,stat: per console and
-- universe the datagrams and rates, the control packets, the drops by reason.
-- The dissector never raises a Lua error.

local band, lshift = bit.band, bit.lshift
local function has(mask, i) return band(mask, lshift(1, i)) ~= 0 end

---------------------------------------------------------------- control

local pv = Proto("pvtrivane", "Trivane console control")
local msg_types = {
  [0] = "(none)", [1] = "PD_HEARTBEAT", [2] = "PD_ACCEPT", [3] = "PD_MIDI_AUTOFOCUS",
  [4] = "PD_SHUTDOWN", [5] = "PD_BLIND_AF_DMX", [6] = "PD_BLIND_AF_SELECTION",
}
local f = pv.fields
f.verdict = ProtoField.string("pvtrivane.verdict", "Driver's verdict")
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
f.pairs = ProtoField.string("pvtrivane.pairs", "Channel=level pairs (channel as sent)")
f.pair_channel = ProtoField.uint16("pvtrivane.pair.channel", "Channel")
f.pair_level = ProtoField.uint16("pvtrivane.pair.level", "Level")
f.entries = ProtoField.string("pvtrivane.entries", "Selection entries (spot:status)")
f.entry_spot = ProtoField.int32("pvtrivane.entry.spot", "Spot")
f.entry_status = ProtoField.int32("pvtrivane.entry.status", "Status")

local function expert_of(name, text, group, severity) return ProtoExpert.new(name, text, expert.group[group], expert.severity[severity]) end
local ex_short = expert_of("pvtrivane.short", "Shorter than 556 bytes: the driver reads the missing bytes as 0", "PROTOCOL", "NOTE")
local ex_long = expert_of("pvtrivane.long", "Longer than 556 bytes: the driver reads the first 556 at most", "PROTOCOL", "WARN")
local ex_signature = expert_of("pvtrivane.signature.ignored", "Signature is not 5600: the driver ignores it", "PROTOCOL", "WARN")
local ex_count = expert_of("pvtrivane.count.range", "Count does not fit the packet", "MALFORMED", "ERROR")
local ex_broken = expert_of("pvtrivane.malformed", "Malformed packet", "MALFORMED", "ERROR")
pv.experts = { ex_short, ex_long, ex_signature, ex_count, ex_broken }

local function u32(tvb, offset) return tvb(offset, 4):le_uint() end

-- The console whose group `address` is: base.c.d with c = `third`, d - `first` + 1.
local function console_of(address, third, first)
  local a, b, c, d = tostring(address):match("^(%d+)%.(%d+)%.(%d+)%.(%d+)$")
  d = tonumber(d)
  if a ~= "236" or b ~= "3" or tonumber(c) ~= third or d == nil or d < first or d > first + 30 then return nil end
  return d - first + 1
end
local function console_text(pinfo, third, first) return console_of(pinfo.dst, third, first) and ("Console " .. console_of(pinfo.dst, third, first) .. ": ") or "" end

-- `count` items of two fields each (`width` bytes apiece) from offset 44:
-- one summary line ("a<sep>b,...") with the fields beneath it.
local function item_list(tvb, tree, list_field, fields, count, width, sep, signed)
  local function value(at) return signed and tvb(at, width):le_int() or tvb(at, width):le_uint() end
  local text = {}
  for i = 0, count - 1 do text[#text + 1] = value(44 + 2 * width * i) .. sep .. value(44 + 2 * width * i + width) end
  local list = tree:add(list_field, tvb(44, 2 * width * count), table.concat(text, ","))
  for i = 0, count - 1 do
    list:add_le(fields[1], tvb(44 + 2 * width * i, width))
    list:add_le(fields[2], tvb(44 + 2 * width * i + width, width))
  end
end

local function control_body(tvb, tree, msg_type)
  local count = u32(tvb, 36)
  if msg_type == 1 then
    tree:add_le(f.receiving, tvb(20, 4))
    return " Receiving=" .. u32(tvb, 20)
  elseif msg_type == 3 then
    tree:add_le(f.count, tvb(36, 4))
    if count + 2 > 512 then tree:add_proto_expert_info(ex_count) else tree:add(f.midi, tvb(44, count + 2)) end
  elseif msg_type == 5 then
    for _, x in ipairs({ { 24, f.spot }, { 32, f.port }, { 36, f.count } }) do tree:add_le(x[2], tvb(x[1], 4)) end
    if count > 128 then tree:add_proto_expert_info(ex_count)
    else item_list(tvb, tree, f.pairs, { f.pair_channel, f.pair_level }, count, 2, "=", false) end
    return " Spot=" .. tvb(24, 4):le_int() .. " Count=" .. count
  elseif msg_type == 6 then
    tree:add_le(f.count, tvb(36, 4)); tree:add_le(f.status_mask, tvb(40, 4))
    if count > 64 then tree:add_proto_expert_info(ex_count)
    else item_list(tvb, tree, f.entries, { f.entry_spot, f.entry_status }, count, 4, ":", true) end
  end
  return ""
end

local function control(tvb, pinfo, root)
  pinfo.cols.protocol = "PVTRIVANE"
  local tree = root:add(pv, tvb())
  local length = tvb:reported_len()
  -- Read as the state receiver reads it: zero-filled to 556 bytes.
  local bytes = tvb:bytes(0, math.min(tvb:len(), 556))
  if bytes:len() < 556 then
    bytes:set_size(556)
    tvb = bytes:tvb("Control packet as the driver reads it")
  end
  if length ~= 556 then tree:add_proto_expert_info(length < 556 and ex_short or ex_long) end
  local msg_type, signature = u32(tvb, 16), u32(tvb, 12)
  tree:add(f.verdict, signature ~= 5600 and "ignored: Signature is not 5600"
                      or msg_type == 2 and "acted on: the console accepts (the driver starts receiving its DMX)"
                      or msg_type == 4 and "acted on: the console shuts down (the driver stops receiving its DMX)"
                      or "ignored: a driver's packet, or no type the driver acts on")
  tree:add(f.magic, tvb(0, 4)); tree:add(f.protocol, tvb(4, 4))
  for _, x in ipairs({ { 8, f.total_length }, { 12, f.signature }, { 16, f.type } }) do tree:add_le(x[2], tvb(x[1], 4)) end
  local name = msg_types[msg_type] or ("type " .. msg_type)
  tree:add(f.type_name, tvb(16, 4), name)
  if signature ~= 5600 then tree:add_proto_expert_info(ex_signature) end
  pinfo.cols.info = console_text(pinfo, 3, 1) .. name .. control_body(tvb, tree, msg_type)
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
-- The driver's verdicts, by code.
local verdicts = {
  [0] = "decoded", [1] = "malformed", [2] = "dropped: oversize", [3] = "dropped: shorter than the header",
  [4] = "dropped: version", [5] = "dropped: length", [6] = "dropped: type", [7] = "dropped: no-decode flag",
  [8] = "accepted, not judged further: the capture is cut", [9] = "dropped: not a console's DMX group",
}
local d = dmx.fields
d.verdict = ProtoField.string("pvtrivane_dmx.verdict", "Driver's verdict")
d.verdict_code = ProtoField.uint8("pvtrivane_dmx.verdict_code", "Verdict", base.DEC, verdicts)
d.payload_length = ProtoField.uint16("pvtrivane_dmx.payload_length", "PayloadLength")
d.control_word = ProtoField.uint32("pvtrivane_dmx.control_word", "ControlWord", base.HEX)
d.packet_type = ProtoField.uint32("pvtrivane_dmx.packet_type", "PacketType", base.DEC, packet_types, 0x0000001F)
d.no_decode = ProtoField.uint32("pvtrivane_dmx.no_decode", "No-decode flag", base.DEC, nil, 0x00000020)
d.field12 = ProtoField.uint32("pvtrivane_dmx.field12", "12-bit field", base.HEX, nil, 0x03FFC000)
d.version = ProtoField.uint32("pvtrivane_dmx.version", "Version", base.DEC, nil, 0xFC000000)
d.mask = ProtoField.bytes("pvtrivane_dmx.universe_mask", "Universe mask")
d.universes = ProtoField.string("pvtrivane_dmx.universes", "Universes")
d.universe = ProtoField.uint8("pvtrivane_dmx.universe", "Universe")
d.block_length = ProtoField.uint16("pvtrivane_dmx.block_length", "Block length")
d.record_type = ProtoField.uint8("pvtrivane_dmx.record_type", "Data type", base.DEC,
                                 { [0] = "end", [1] = "levels, bank 1", [2] = "levels, bank 2",
                                   [3] = "raw, bank 1", [4] = "raw, bank 2" })
d.levels = ProtoField.string("pvtrivane_dmx.levels", "Levels the host sees change (channel=level)")
d.changed_universe = ProtoField.uint8("pvtrivane_dmx.changed_universe", "Universe whose levels change")
d.channel = ProtoField.uint16("pvtrivane_dmx.channel", "Channel")
d.level = ProtoField.uint8("pvtrivane_dmx.level", "Level")
d.set = ProtoField.string("pvtrivane_dmx.set", "Channel=level")
d.bank2 = ProtoField.string("pvtrivane_dmx.bank2", "Bank-2 levels, which the host never sees (channel=level)")
d.raw = ProtoField.bytes("pvtrivane_dmx.raw", "Raw record")
d.abandoned = ProtoField.string("pvtrivane_dmx.abandoned", "Universes the driver abandons")

local ex_dropped = expert_of("pvtrivane_dmx.dropped", "The driver drops this datagram", "PROTOCOL", "WARN")
local ex_block = expert_of("pvtrivane_dmx.malformed", "Malformed universe block", "MALFORMED", "ERROR")
local ex_cut = expert_of("pvtrivane_dmx.cut", "The capture holds only part of this datagram", "UNDECODED", "NOTE")
dmx.experts = { ex_dropped, ex_block, ex_cut }

-- The acceptance rule, judged from the datagram's length on the wire: the
-- code and the reason.
local function judge(tvb, wire)
  if wire > 1468 then return 2, "dropped: " .. wire .. " bytes, longer than the 1468 the driver receives" end
  if wire < 48 then return 3, "dropped: " .. wire .. " bytes, shorter than the 48-byte header" end
  if tvb:len() < 16 then return 8, verdicts[8] end
  local word = tvb(12, 4):le_uint()
  local version, payload = bit.rshift(word, 26), tvb(8, 2):le_uint()
  if version ~= 7 then return 4, "dropped: version " .. version .. ", not 7" end
  if wire ~= payload + 48 then return 5, "dropped: " .. wire .. " bytes, PayloadLength + 48 is " .. (payload + 48) end
  if band(word, 0x1F) ~= 24 then return 6, "dropped: type " .. band(word, 0x1F) .. ", not 24" end
  if band(word, 0x20) ~= 0 then return 7, "dropped: no-decode flag set" end
  return 0, "decoded"
end

-- The decoder, step by step: a level record applies its levels group by
-- group (a group whose levels are not all there is not applied), into
-- `into` (channel 1-512 -> level). Returns true and the offset after it,
-- false and why (malformed), or nil (the capture is cut).
local function level_record(b, p, e, avail, into)
  local function take() if p >= avail then return nil end; p = p + 1; return b[p] end
  if e - p < 1 then return false, "a level record without its mask" end
  local m0 = take(); if m0 == nil then return nil end
  for i = 0, 7 do if has(m0, i) then
    if e - p < 1 then return false, "a level record cut short" end
    local m1 = take(); if m1 == nil then return nil end
    for j = 0, 7 do if has(m1, j) then
      if e - p < 1 then return false, "a level record cut short" end
      local m2 = take(); if m2 == nil then return nil end
      local named = 0
      for k = 0, 7 do if has(m2, k) then named = named + 1 end end
      if e - p < named then return false, "a level record cut short" end
      if p + named > avail then return nil end
      for k = 0, 7 do if has(m2, k) then into[64 * i + 8 * j + k + 1] = take() end end
    end end
  end end
  return true, p
end

-- One universe block's records into `blk`: true, false and why, or nil.
local function apply_block(b, p, e, avail, blk)
  while p < e do
    if p >= avail then return nil end
    local t = b[p + 1]
    blk.records[#blk.records + 1] = p
    p = p + 1
    if t == 0 then
      if p ~= e then return false, "data after its end mark" end
      return true
    elseif t == 1 or t == 2 then
      local ok, after = level_record(b, p, e, avail, t == 1 and blk.levels or blk.bank2)
      if ok ~= true then return ok, after end
      p = after
    elseif t == 3 or t == 4 then
      if e - p < 1 then return false, "a raw record without its length" end
      if p >= avail then return nil end
      local n = b[p + 1]
      if e - p - 1 < n then return false, "a raw record longer than its block" end
      blk.raws[#blk.raws + 1] = { p + 1, n }
      p = p + 1 + n
    else
      return false, "data type " .. t .. ", which the driver does not know"
    end
  end
  return true
end

-- The payload as the driver decodes it: the blocks, the code (0, 1 or 8)
-- and why.
local function decode(b, avail, total)
  local blocks, p = {}, 60
  if total < 60 then return blocks, 1, "malformed: the payload is shorter than 12 bytes" end
  if avail < 60 then return blocks, 8, verdicts[8] end
  for g = 0, 7 do for k = 0, 7 do if has(b[53 + g], k) then
    local u = 8 * g + k
    if total - p < 2 then return blocks, 1, "malformed: universe " .. u .. " has no block length" end
    if p + 2 > avail then return blocks, 8, verdicts[8] end
    local length = b[p + 1] + 256 * b[p + 2]
    if length > total - p - 2 then return blocks, 1, "malformed: universe " .. u .. "'s block runs past the datagram" end
    local blk = { universe = u, at = p, stop = p + 2 + length, levels = {}, bank2 = {}, raws = {}, records = {} }
    blocks[#blocks + 1] = blk
    local ok, why = apply_block(b, p + 2, blk.stop, avail, blk)
    if ok == nil then return blocks, 8, verdicts[8] end
    if not ok then
      blk.broken = why
      return blocks, 1, "malformed: universe " .. u .. ": " .. why .. "; the rest of the datagram is not applied"
    end
    p = blk.stop
  end end end
  return blocks, 0, "decoded"
end

local function pairs_text(levels)
  local text = {}
  for channel = 1, 512 do if levels[channel] then text[#text + 1] = channel .. "=" .. levels[channel] end end
  return table.concat(text, ",")
end

-- "0-3,7": universes for people.
local function ranges(list)
  local text, i = {}, 1
  while i <= #list do
    local j = i
    while j < #list and list[j + 1] == list[j] + 1 do j = j + 1 end
    text[#text + 1] = j > i and (list[i] .. "-" .. list[j]) or tostring(list[i])
    i = j + 1
  end
  return table.concat(text, ",")
end

local function show_block(tvb, tree, blk, avail)
  local item = tree:add(d.universe, tvb(blk.at, math.min(blk.stop, avail) - blk.at), blk.universe)
  item:add_le(d.block_length, tvb(blk.at, 2))
  for _, at in ipairs(blk.records) do item:add(d.record_type, tvb(at, 1)) end
  local changed = pairs_text(blk.levels)
  if changed ~= "" then
    local levels = item:add(d.levels, tvb(blk.at, math.min(blk.stop, avail) - blk.at), changed)
    levels:add(d.changed_universe, blk.universe):set_generated()
    -- One line a channel; its level and "channel=level" (which a filter can
    -- match as one) hidden beneath.
    for channel = 1, 512 do if blk.levels[channel] then
      local level = blk.levels[channel]
      local one = levels:add(d.channel, channel):append_text(" = " .. level)
      one:set_generated()
      one:add(d.level, level):set_hidden()
      one:add(d.set, channel .. "=" .. level):set_hidden()
    end end
  end
  if next(blk.bank2) then item:add(d.bank2, pairs_text(blk.bank2)) end
  for _, raw in ipairs(blk.raws) do if raw[2] > 0 then item:add(d.raw, tvb(raw[1], raw[2])) end end
  if blk.broken then item:add_proto_expert_info(ex_block, "Malformed universe block: " .. blk.broken) end
end

local function dmx_datagram(tvb, pinfo, root)
  pinfo.cols.protocol = "PVTRIVANE-DMX"
  local tree = root:add(dmx, tvb())
  local wire, avail = tvb:reported_len(), tvb:len()
  local console = console_of(pinfo.dst, 2, 33)
  local code, why = judge(tvb, wire)
  local b, blocks = { tvb:raw(0, avail):byte(1, -1) }, {}
  if code == 0 and console == nil then code, why = 9, "dropped: " .. tostring(pinfo.dst) .. " is no console's DMX group" end
  if code == 0 then blocks, code, why = decode(b, avail, wire) end
  tree:add(d.verdict, why)
  tree:add(d.verdict_code, code)
  if code >= 2 and code ~= 8 then tree:add_proto_expert_info(ex_dropped, why) end
  if avail < wire then tree:add_proto_expert_info(ex_cut, "The capture holds " .. avail .. " of " .. wire .. " bytes") end
  pinfo.cols.info = console_text(pinfo, 2, 33) .. why
  if avail < 16 then return end
  tree:add_le(d.payload_length, tvb(8, 2))
  local word = tree:add_le(d.control_word, tvb(12, 4))
  for _, field in ipairs({ d.packet_type, d.no_decode, d.field12, d.version }) do word:add_le(field, tvb(12, 4)) end
  if code >= 2 and code ~= 8 or avail < 60 or wire < 60 then return end
  tree:add(d.mask, tvb(52, 8))
  local present, applied, levels = {}, {}, 0
  for g = 0, 7 do for k = 0, 7 do if has(b[53 + g], k) then present[#present + 1] = 8 * g + k end end end
  tree:add(d.universes, tvb(52, 8), ranges(present))
  for _, blk in ipairs(blocks) do
    show_block(tvb, tree, blk, avail)
    applied[#applied + 1] = blk.universe
    for _ in pairs(blk.levels) do levels = levels + 1 end
  end
  local rest = { select(#applied + 1, unpack(present)) }
  if code == 1 and #rest > 0 then tree:add(d.abandoned, ranges(rest)) end
  if code == 0 then
    pinfo.cols.info = console_text(pinfo, 2, 33) .. "DMX universes " .. ranges(present) .. ", " .. levels .. " levels"
  end
end

function dmx.dissector(tvb, pinfo, root)
  local ok = pcall(dmx_datagram, tvb, pinfo, root)
  if not ok then root:add_proto_expert_info(ex_block) end
end

---------------------------------------------------------------- registration

local udp = DissectorTable.get("udp.port")
udp:add(6007, pv)
udp:add(9138, dmx)
pv:register_heuristic("udp", function(tvb, pinfo, root)
  if tvb:len() < 8 or tvb(0, 8):bytes():tohex() ~= "54564E0050525600" then return false end
  pv.dissector(tvb, pinfo, root)
  return true
end)

---------------------------------------------------------------- statistics

-- tshark -z pvtrivane,stat: per console the control packets, the DMX
-- datagrams by the driver's verdict, and per universe the datagrams the
-- driver decodes with their rate over the capture.
local dst, time = Field.new("ip.dst"), Field.new("frame.time_relative")
local code_f, universe_f, type_f = Field.new("pvtrivane_dmx.verdict_code"), Field.new("pvtrivane_dmx.universe"),
                                   Field.new("pvtrivane.type")
register_stat_cmd_arg("pvtrivane,stat", function()
  local consoles, last = {}, 0
  local tap = Listener.new("frame", "pvtrivane || pvtrivane_dmx")
  function tap.reset() consoles, last = {}, 0 end
  function tap.packet()
    local t, code, msg_type, to = time(), code_f(), type_f(), dst()
    if t then last = math.max(last, t.value:tonumber()) end
    local n = to and console_of(to.value, code and 2 or 3, code and 33 or 1)
    if n == nil then return end
    consoles[n] = consoles[n] or { control = {}, verdicts = {}, universes = {} }
    local c = consoles[n]
    if msg_type then c.control[msg_type.value] = (c.control[msg_type.value] or 0) + 1 end
    if not code then return end
    c.verdicts[code.value] = (c.verdicts[code.value] or 0) + 1
    if code.value ~= 0 then return end
    for _, u in ipairs({ universe_f() }) do c.universes[u.value] = (c.universes[u.value] or 0) + 1 end
  end
  function tap.draw()
    local span = last > 0 and last or 1
    print(string.rep("=", 72))
    print(string.format("Trivane console traffic, %.1f s", last))
    for n = 1, 31 do if consoles[n] then
      local c, text = consoles[n], {}
      for t = 0, 6 do if c.control[t] then text[#text + 1] = msg_types[t] .. " " .. c.control[t] end end
      print(string.format("Console %d  control: %s", n, #text > 0 and table.concat(text, ", ") or "none"))
      text = {}
      for code = 0, 9 do if c.verdicts[code] then text[#text + 1] = verdicts[code] .. " " .. c.verdicts[code] end end
      print(string.format("  DMX datagrams: %s", #text > 0 and table.concat(text, ", ") or "none"))
      for u = 0, 63 do if c.universes[u] then
        print(string.format("  universe %2d  %8d decoded  %8.1f/s", u, c.universes[u], c.universes[u] / span))
      end end
    end end
    print(string.rep("=", 72))
  end
end)

-- SPDX-License-Identifier: MIT
-- Wireshark dissector for the TamoMultiNetControl datagrams (docs/PROTOCOL.md).
--
-- Found by content on any UDP port (the group port is the host's choice and answers come from ports the
-- system picks): a datagram of at least 24 bytes that starts with CC 55 CC 55. "Decode As... TAMO" works
-- as well. Every multi-byte field is little-endian. A keyed group's datagram (tag 0x0200) carries its
-- signature after the user data: the key id, the counter and the MAC are shown; the MAC is not checked,
-- since that takes the group's key.

local tamo = Proto("tamo", "TamoMultiNetControl")

local HEADER_SIZE = 24
local MAGIC = 0x55CC55CC
local SIGNED_TAG = 0x0200
local SIGNATURE_SIZE = 1 + 8 + 16

-- code -> name, who sends it to where, and the payload it carries
local messages = {
    [200] = { "enS2MReportPreparedCmd", "slave -> master", "none" },
    [201] = { "enS2MReportPartnerCmd", "slave -> master", "none" },  -- capabilities, from a slave with an opt-in
    [202] = { "enS2MClockSyncRequestCmd", "slave -> master", "stamps" },
    [203] = { "enS2MNotifyMasterClockPrepared", "slave -> master", "none" },
    [204] = { "enS2MNotifyComplete", "slave -> master", "none" },
    [205] = { "enS2MHeartbeatCmd", "slave -> master", "none" },
    [206] = { "enM2SHeartbeatReplyCmd", "master -> slave", "none" },
    [207] = { "enS2MCommandAckCmd", "slave -> master", "acknowledgement" },
    [208] = { "enS2MHealthReportCmd", "slave -> master", "health" },
    [300] = { "enM2SFindPartnerCmd", "master -> all", "none" },
    [301] = { "enM2SStartCmd", "master -> all", "two doubles" },
    [302] = { "enM2SPauseCmd", "master -> all", "one double" },
    [303] = { "enM2SStopCmd", "master -> all", "one double" },
    [304] = { "enM2SPrepareCmd", "master -> all", "none" },
    [305] = { "enM2SSeekCmd", "master -> all", "seek" },
    [307] = { "enM2SClockSyncReplyCmd", "master -> slave", "stamps" },
    [308] = { "enM2SStartClockSyncCmd", "master -> all", "none" },
    [309] = { "enM2SStopClockSyncCmd", "master -> all", "none" },
    [310] = { "enM2SSpeedCmd", "master -> all", "speed" },
    [311] = { "enM2SStepCmd", "master -> all", "none" },
    [312] = { "enM2SStepBackCmd", "master -> all", "none" },
    [313] = { "enM2SReportAckCmd", "master -> slave", "acknowledgement" },
}

local payload_sizes = { ["none"] = 0, ["one double"] = 8, ["speed"] = 8, ["two doubles"] = 16, ["seek"] = 24,
                        ["stamps"] = 32, ["acknowledgement"] = 4, ["health"] = 64 }

local code_names = {}
for code, message in pairs(messages) do
    code_names[code] = message[1]
end

local stamp_meaning = {
    "s0: master received the request",
    "s1: master sent the reply",
    "s2: slave sent the request",
    "s3: slave received the reply",
}

local f = tamo.fields
f.magic = ProtoField.uint32("tamo.magic", "Magic", base.HEX)
f.pid = ProtoField.uint32("tamo.pid", "Process id", base.DEC)
f.code = ProtoField.uint16("tamo.code", "Code", base.DEC, code_names)
f.tag = ProtoField.uint16("tamo.tag", "Tag", base.HEX, { [0x0100] = "unsigned", [SIGNED_TAG] = "signed" })
f.group = ProtoField.uint16("tamo.group", "Group id", base.DEC)
f.layer = ProtoField.int16("tamo.layer", "Layer id", base.DEC)
f.seq = ProtoField.uint16("tamo.seq", "Sequence number", base.DEC)
f.datalen = ProtoField.uint16("tamo.datalen", "Payload length", base.DEC)
f.userdatalen = ProtoField.uint16("tamo.userdatalen", "User data length", base.DEC)
f.padding = ProtoField.bytes("tamo.padding", "Padding")
f.direction = ProtoField.string("tamo.direction", "Direction")
f.start_first = ProtoField.double("tamo.start.first", "First value")
f.start_second = ProtoField.double("tamo.start.second", "Second value")
f.value = ProtoField.double("tamo.value", "Value")
f.speed = ProtoField.double("tamo.speed", "Speed")
f.seek_position = ProtoField.int64("tamo.seek.position", "Position", base.DEC)
f.seek_flag = ProtoField.uint8("tamo.seek.flag", "Flag", base.DEC)
f.seek_padding = ProtoField.bytes("tamo.seek.padding", "Padding")
f.seek_value = ProtoField.double("tamo.seek.value", "Value")
f.s0 = ProtoField.int64("tamo.clock.s0", stamp_meaning[1] .. " (us)", base.DEC)
f.s1 = ProtoField.int64("tamo.clock.s1", stamp_meaning[2] .. " (us)", base.DEC)
f.s2 = ProtoField.int64("tamo.clock.s2", stamp_meaning[3] .. " (us)", base.DEC)
f.s3 = ProtoField.int64("tamo.clock.s3", stamp_meaning[4] .. " (us)", base.DEC)
f.ack_seq = ProtoField.uint16("tamo.ack.seq", "Acknowledged sequence number", base.DEC)
f.ack_code = ProtoField.uint16("tamo.ack.code", "Acknowledged code", base.DEC, code_names)
f.ack_name = ProtoField.string("tamo.ack.name", "Acknowledged message")
f.caps_version = ProtoField.uint16("tamo.caps.version", "Capabilities version", base.DEC)
f.caps_bits = ProtoField.uint16("tamo.caps.bits", "Supports (1 acknowledged delivery, 2 health, 4 keyed)", base.HEX)
f.health_version = ProtoField.uint16("tamo.health.version", "Health report version", base.DEC)
f.health_length = ProtoField.uint16("tamo.health.length", "Health report length", base.DEC)
f.health_flags = ProtoField.uint8("tamo.health.flags", "Known (1 clock, 2 rate, 4 presentation, 8 command)", base.HEX)
f.health_command = ProtoField.uint16("tamo.health.command", "Last command applied", base.DEC, code_names)
f.health_command_seq = ProtoField.uint16("tamo.health.command_seq", "Its sequence number", base.DEC)
f.health_offset = ProtoField.double("tamo.health.offset_us", "Clock offset (us)")
f.health_rate = ProtoField.double("tamo.health.rate_ppm", "Clock rate (ppm)")
f.health_uncertainty = ProtoField.double("tamo.health.uncertainty_us", "Estimate's uncertainty (us)")
f.health_repeats = ProtoField.uint32("tamo.health.repeats_dropped", "Repeats dropped", base.DEC)
f.health_late50 = ProtoField.int64("tamo.health.late_p50_us", "Frames late, p50 (us)", base.DEC)
f.health_late99 = ProtoField.int64("tamo.health.late_p99_us", "Frames late, p99 (us)", base.DEC)
f.health_shown = ProtoField.uint32("tamo.health.frames_shown", "Frames shown", base.DEC)
f.health_dropped = ProtoField.uint32("tamo.health.frames_dropped", "Frames dropped", base.DEC)
f.health_text = ProtoField.string("tamo.health.text", "Text")
f.payload = ProtoField.bytes("tamo.payload", "Payload")
f.userdata = ProtoField.bytes("tamo.userdata", "User data")
f.trailing = ProtoField.bytes("tamo.trailing", "Bytes after the user data (ignored)")
f.key_id = ProtoField.uint8("tamo.signature.key_id", "Key id", base.DEC)
f.counter = ProtoField.uint64("tamo.signature.counter", "Counter", base.DEC)
f.mac = ProtoField.bytes("tamo.signature.mac", "MAC (HMAC-SHA256, first 16 bytes)")

local e_short = ProtoExpert.new("tamo.short", "Datagram shorter than its header and lengths say",
                                expert.group.MALFORMED, expert.severity.ERROR)
local e_payload = ProtoExpert.new("tamo.payload_short", "Payload shorter than this code needs",
                                  expert.group.MALFORMED, expert.severity.ERROR)
local e_code = ProtoExpert.new("tamo.unknown_code", "Unknown code: receivers ignore it",
                               expert.group.UNDECODED, expert.severity.WARN)
local e_trailing = ProtoExpert.new("tamo.trailing_bytes", "Bytes after the user data: receivers ignore them",
                                   expert.group.PROTOCOL, expert.severity.NOTE)
local e_signature = ProtoExpert.new("tamo.bad_signature_size",
                                    "Tagged signed, but not followed by 25 bytes of signature: receivers drop it",
                                    expert.group.MALFORMED, expert.severity.ERROR)
tamo.experts = { e_short, e_payload, e_code, e_trailing, e_signature }

-- The name of a code, or "unknown code N".
local function name_of(code)
    return code_names[code] or ("unknown code " .. code)
end

-- The fixed payload of a code, at `payload` (a TvbRange of exactly the needed size). Returns a text for
-- the Info column, or nil.
local function add_payload(tree, kind, payload)
    if kind == "two doubles" then
        tree:add_le(f.start_first, payload(0, 8))
        tree:add_le(f.start_second, payload(8, 8))
    elseif kind == "one double" then
        tree:add_le(f.value, payload(0, 8))
    elseif kind == "speed" then
        tree:add_le(f.speed, payload(0, 8))
    elseif kind == "seek" then
        tree:add_le(f.seek_position, payload(0, 8))
        local flag = tree:add_le(f.seek_flag, payload(8, 1))
        flag:append_text(payload(8, 1):uint() ~= 0 and " (true)" or " (false)")
        tree:add(f.seek_padding, payload(9, 7))
        tree:add_le(f.seek_value, payload(16, 8))
    elseif kind == "stamps" then
        local stamps = tree:add(tamo, payload, "Clock stamps")
        stamps:add_le(f.s0, payload(0, 8))
        stamps:add_le(f.s1, payload(8, 8))
        stamps:add_le(f.s2, payload(16, 8))
        stamps:add_le(f.s3, payload(24, 8))
    elseif kind == "acknowledgement" then
        local acked_seq = payload(0, 2):le_uint()
        local acked_code = payload(2, 2):le_uint()
        local ack = tree:add(tamo, payload, string.format("Acknowledges %s (%d), Seq %d", name_of(acked_code),
                                                           acked_code, acked_seq))
        ack:add_le(f.ack_seq, payload(0, 2))
        ack:add_le(f.ack_code, payload(2, 2))
        ack:add(f.ack_name, name_of(acked_code)):set_generated()
        return string.format(" Acknowledges=%s AckedSeq=%d", name_of(acked_code), acked_seq)
    elseif kind == "health" then
        local health = tree:add(tamo, payload, "Health")
        health:add_le(f.health_version, payload(0, 2))
        health:add_le(f.health_length, payload(2, 2))
        health:add(f.health_flags, payload(4, 1))
        health:add_le(f.health_command, payload(6, 2))
        health:add_le(f.health_offset, payload(8, 8))
        health:add_le(f.health_rate, payload(16, 8))
        health:add_le(f.health_uncertainty, payload(24, 8))
        health:add_le(f.health_command_seq, payload(32, 2))
        health:add_le(f.health_repeats, payload(36, 4))
        health:add_le(f.health_late50, payload(40, 8))
        health:add_le(f.health_late99, payload(48, 8))
        health:add_le(f.health_shown, payload(56, 4))
        health:add_le(f.health_dropped, payload(60, 4))
        local text_len = payload(5, 1):uint()
        if text_len > 0 and payload:len() >= 64 + text_len then
            health:add(f.health_text, payload(64, text_len))
        end
        return string.format(" Offset=%.1fus", payload(8, 8):le_float())
    end
    return nil
end

local function dissect(tvb, pinfo, root)
    local length = tvb:len()
    pinfo.cols.protocol = "TAMO"
    local tree = root:add(tamo, tvb(), "TamoMultiNetControl")

    tree:add_le(f.magic, tvb(0, 4))
    tree:add_le(f.pid, tvb(4, 4))
    local code = tvb(8, 2):le_uint()
    local code_item = tree:add_le(f.code, tvb(8, 2))
    local tag = tvb(10, 2):le_uint()
    tree:add_le(f.tag, tvb(10, 2))
    tree:add_le(f.group, tvb(12, 2))
    local layer = tvb(14, 2):le_int()
    tree:add_le(f.layer, tvb(14, 2))
    local seq = tvb(16, 2):le_uint()
    tree:add_le(f.seq, tvb(16, 2))
    local data_len = tvb(18, 2):le_uint()
    tree:add_le(f.datalen, tvb(18, 2))
    local user_len = tvb(20, 2):le_uint()
    tree:add_le(f.userdatalen, tvb(20, 2))
    tree:add(f.padding, tvb(22, 2))

    local message = messages[code]
    local name = name_of(code)
    if message then
        tree:add(f.direction, message[2]):set_generated()
    else
        code_item:add_proto_expert_info(e_code)
    end
    tree:append_text(string.format(", %s (%d), Seq %d", name, code, seq))
    pinfo.cols.info = string.format("%s Seq=%d Layer=%d Len=%d+%d", name, seq, layer, data_len, user_len)

    local wanted = HEADER_SIZE + data_len + user_len
    if length < wanted then
        tree:add_proto_expert_info(e_short, string.format("Datagram of %d bytes, header says %d", length, wanted))
        pinfo.cols.info:append(" [incomplete]")
        return
    end
    if data_len > 0 then
        local payload = tvb(HEADER_SIZE, data_len)
        local needed = message and payload_sizes[message[3]] or 0
        if data_len < needed then
            tree:add(f.payload, payload):add_proto_expert_info(e_payload)
            pinfo.cols.info:append(" [incomplete]")
            return
        end
        -- A health report's text, and what later versions append, lie past its fixed part.
        local whole = message and message[3] == "health"
        if needed > 0 then
            local info = add_payload(tree, message[3], whole and payload or payload(0, needed))
            if info then
                pinfo.cols.info:append(info)
            end
        end
        if code == 201 and data_len >= 4 then
            tree:add_le(f.caps_version, payload(0, 2))
            tree:add_le(f.caps_bits, payload(2, 2))
            pinfo.cols.info:append(string.format(" Supports=0x%x", payload(2, 2):le_uint()))
        elseif data_len > needed and not whole then
            tree:add(f.payload, payload(needed, data_len - needed))
        end
    end
    if user_len > 0 then
        tree:add(f.userdata, tvb(HEADER_SIZE + data_len, user_len))
    end
    if tag == SIGNED_TAG then
        if length ~= wanted + SIGNATURE_SIZE then
            tree:add_proto_expert_info(e_signature, string.format("%d bytes after the user data", length - wanted))
            pinfo.cols.info:append(" [bad signature]")
            return
        end
        local signature = tvb(wanted, SIGNATURE_SIZE)
        local sig_tree = tree:add(tamo, signature, "Signature")
        sig_tree:add(f.key_id, signature(0, 1))
        sig_tree:add_le(f.counter, signature(1, 8))
        sig_tree:add(f.mac, signature(9, 16))
        pinfo.cols.info:append(string.format(" Signed KeyId=%d", signature(0, 1):uint()))
    elseif length > wanted then
        tree:add(f.trailing, tvb(wanted, length - wanted)):add_proto_expert_info(e_trailing)
    end
end

function tamo.dissector(tvb, pinfo, root)
    if tvb:len() < HEADER_SIZE then
        return 0
    end
    dissect(tvb, pinfo, root)
    return tvb:len()
end

local function heuristic(tvb, pinfo, root)
    if tvb:len() < HEADER_SIZE or tvb(0, 4):le_uint() ~= MAGIC then
        return false
    end
    dissect(tvb, pinfo, root)
    return true
end

tamo:register_heuristic("udp", heuristic)
DissectorTable.get("udp.port"):add_for_decode_as(tamo)

#pragma once

struct StreamState;
struct WitsTable;
class ParserEvents;

// Consumes what it can from state.incoming_buffer, in this order: up to five
// bracketed status messages, at most one data packet ("*" ... CR) and at most
// one WITS record ("^" ... CR). What it finds goes out through events; what
// is not complete yet stays in the buffer for the next call.
//
// state.parse_busy is true while the call runs and false on every way out.
// The call never throws: a fault, its own or a listener's, is reported as one
// "[Parse ERR: ...]" line and empties the buffer.
void parse_ulmex_string(StreamState &state, const WitsTable &table, ParserEvents &events) noexcept;

#pragma once

// The argument records of every procedure that takes more than one handle.
// Fields are named `target`, `param1`, `param2`, `param3` in wire order: a
// handle is one unsigned word, a long or an int one signed word, a value one
// data value (held inline, so the record owns what decoding puts in it).
// Each shape has one filter of its own name, serving encode, decode and free;
// it stops at the first field that fails.

#include <rpc/xdr.h>

#include "xdr/data_value.h"
#include "xdr/wire_types.h"

// clang-format off
struct HandleHandle              { InteropHandle target; InteropHandle param1; };
struct HandleLong                { InteropHandle target; udt_integer param1; };
struct HandleInt                 { InteropHandle target; udt_boolean param1; };
struct HandleValue               { InteropHandle target; udt_dataType param1; };
struct HandleHandleValue         { InteropHandle target; InteropHandle param1; udt_dataType param2; };
struct HandleValueValueInt       { InteropHandle target; udt_dataType param1; udt_dataType param2; udt_boolean param3; };
struct HandleValueLongInt        { InteropHandle target; udt_dataType param1; udt_integer param2; udt_boolean param3; };
struct HandleHandleLong          { InteropHandle target; InteropHandle param1; udt_integer param2; };
struct HandleValueHandle         { InteropHandle target; udt_dataType param1; InteropHandle param2; };
struct HandleValueValue          { InteropHandle target; udt_dataType param1; udt_dataType param2; };
struct HandleValueValueHandle    { InteropHandle target; udt_dataType param1; udt_dataType param2; InteropHandle param3; };
struct HandleHandleHandleValue   { InteropHandle target; InteropHandle param1; InteropHandle param2; udt_dataType param3; };
struct HandleHandleHandle        { InteropHandle target; InteropHandle param1; InteropHandle param2; };
struct HandleValueLong           { InteropHandle target; udt_dataType param1; udt_integer param2; };
struct HandleHandleValueValue    { InteropHandle target; InteropHandle param1; udt_dataType param2; udt_dataType param3; };

bool_t X_HandleHandle(XDR* xdrs, HandleHandle* record);
bool_t X_HandleLong(XDR* xdrs, HandleLong* record);
bool_t X_HandleInt(XDR* xdrs, HandleInt* record);
bool_t X_HandleValue(XDR* xdrs, HandleValue* record);
bool_t X_HandleHandleValue(XDR* xdrs, HandleHandleValue* record);
bool_t X_HandleValueValueInt(XDR* xdrs, HandleValueValueInt* record);
bool_t X_HandleValueLongInt(XDR* xdrs, HandleValueLongInt* record);
bool_t X_HandleHandleLong(XDR* xdrs, HandleHandleLong* record);
bool_t X_HandleValueHandle(XDR* xdrs, HandleValueHandle* record);
bool_t X_HandleValueValue(XDR* xdrs, HandleValueValue* record);
bool_t X_HandleValueValueHandle(XDR* xdrs, HandleValueValueHandle* record);
bool_t X_HandleHandleHandleValue(XDR* xdrs, HandleHandleHandleValue* record);
bool_t X_HandleHandleHandle(XDR* xdrs, HandleHandleHandle* record);
bool_t X_HandleValueLong(XDR* xdrs, HandleValueLong* record);
bool_t X_HandleHandleValueValue(XDR* xdrs, HandleHandleValueValue* record);
// clang-format on

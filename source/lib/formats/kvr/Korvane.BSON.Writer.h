#pragma once
// Writes the JSON object model as BSON. Numbers are written as doubles
// whenever their text reads as one, which every JSON number text does
// (integers included); a text that reads only as an integer is written as a
// 32-bit or a 64-bit integer.

#include "Korvane.JSON.BSON.h"
#include "Platform.JSON.h"

namespace korvane {

class TKorvaneBSONWriter : public TBsonWriter {
public:
    explicit TKorvaneBSONWriter(TStream* pStream) : TBsonWriter(pStream) {}

    // Each writes the value as an element of the open container, or as the
    // document itself when nothing is open. A failing member still ends its
    // object or array before the failure goes on.
    void WriteJsonObject(const TJSONObject* pObject);
    void WriteJsonArray(const TJSONArray* pArray);
    void WriteJsonValue(const TJSONValue* pValue);

    // Writes only the bytes of a scalar's value, with no type byte and no
    // name. Objects and arrays raise; null writes nothing.
    void WriteRawJsonValue(const TJSONValue* pValue);
};

} // namespace korvane

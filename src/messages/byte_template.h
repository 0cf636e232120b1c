#pragma once

// The bytes of a message or reply as one send gives them: literal bytes with
// fields computed at each send (checksums over the bytes before them, and a
// counter of the sends). A template without fields is its bytes and costs
// nothing more. No widgets here; the window and korvo-cli both render sends
// through Render().
#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

enum class FieldKind : std::uint8_t {
    Crc16Modbus,
    Crc16Ccitt, // CCITT-FALSE
    Crc16Xmodem,
    Crc32,
    Sum8,
    Sum16,
    Xor8,
    Lrc,
    Sequence,
};

struct ByteField
{
    FieldKind kind = FieldKind::Sequence;
    // Its bytes on the wire: 1, 2 or 4.
    int width = 1;
    bool bigEndian = false;
    // Where its bytes go.
    qsizetype offset = 0;
    // A checksum covers [from, offset): back to the start, or to the end of
    // the checksum before it.
    qsizetype from = 0;

    bool operator==(const ByteField&) const = default;
};

// A field as typed between braces ("crc16-modbus", "crc32:be", "seq:u16be",
// any case), or none when it is not one; `orderOnOneByte` tells a byte order
// written on a one-byte checksum, which has none.
struct FieldSpelling
{
    std::optional<ByteField> field;
    bool orderOnOneByte = false;
};
FieldSpelling ParseFieldName(QStringView name);
// "crc16-modbus", "crc32:be", "seq:u16be": what ParseFieldName reads back.
QString FieldName(const ByteField& field);

// The checksum of `kind` over `size` bytes, as a number (Sequence: 0).
std::uint32_t FieldChecksum(FieldKind kind, const std::uint8_t* data, qsizetype size);

class ByteTemplate
{
public:
    ByteTemplate() = default;
    // Literal bytes, as every string saved before fields existed.
    ByteTemplate(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    // `bytes` holds each field's place (its content is ignored); the fields
    // in order of their offsets, each inside `bytes`.
    ByteTemplate(QByteArray bytes, std::vector<ByteField> fields);

    bool HasFields() const { return !m_fields.empty(); }
    bool HasCounter() const;
    qsizetype Size() const { return m_bytes.size(); }
    bool IsEmpty() const { return m_bytes.isEmpty(); }
    const std::vector<ByteField>& Fields() const { return m_fields; }
    // The literal bytes; a field's place holds zeros.
    const QByteArray& Literal() const { return m_bytes; }

    // The bytes of the send whose sequence fields carry `counter` (cut to
    // each field's width, so that it wraps there).
    QByteArray Render(std::uint32_t counter) const;

    bool operator==(const ByteTemplate&) const = default;

private:
    QByteArray m_bytes;
    std::vector<ByteField> m_fields;
};

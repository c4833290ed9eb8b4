#include "logrecord.h"

#include <cstring>

namespace {

constexpr char NewLineMarker[] = "{New Line}";
constexpr qsizetype NewLineMarkerLength = sizeof NewLineMarker - 1;

char* copy(char* w, const char* from, qsizetype length)
{
    std::memcpy(w, from, size_t(length));
    return w + length;
}

// Runs without a line break are copied whole; packet texts hold few of them.
char* writeMarked(char* w, QByteArrayView text)
{
    const char* c = text.data();
    const char* const end = c + text.size();
    while (c != end) {
        const void* found = std::memchr(c, '\r', size_t(end - c));
        const char* cr = found ? static_cast<const char*>(found) : end;
        w = copy(w, c, cr - c);
        c = cr;
        if (c == end)
            break;
        if (c + 1 != end && c[1] == '\n') {
            w = copy(w, NewLineMarker, NewLineMarkerLength);
            c += 2;
        } else {
            *w++ = *c++;
        }
    }
    return w;
}

} // namespace

qsizetype LogRecord::room(const Fields& fields)
{
    qsizetype room = 2 + FieldCount * 3; // CR LF, quotes and commas
    for (int i = 0; i < FieldCount - 1; ++i)
        room += fields[i].size();
    // A line break of two bytes becomes ten.
    return room + fields[FieldCount - 1].size() * NewLineMarkerLength / 2 + 1;
}

char* LogRecord::write(char* out, const Fields& fields)
{
    char* w = out;
    for (int i = 0; i < FieldCount; ++i) {
        if (i > 0)
            *w++ = ',';
        *w++ = '"';
        if (i == FieldCount - 1)
            w = writeMarked(w, fields[i]);
        else
            w = copy(w, fields[i].data(), fields[i].size());
        *w++ = '"';
    }
    *w++ = '\r';
    *w++ = '\n';
    return w;
}

QByteArray LogRecord::bytes(QStringView text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    char* w = out.data();
    for (auto c = text.begin(), end = text.end(); c != end; ++c) {
        const char16_t u = c->unicode();
        if (u <= 0xFF) {
            *w++ = char(u);
            continue;
        }
        *w++ = '?';
        if (c->isHighSurrogate() && c + 1 != end && c[1].isLowSurrogate())
            ++c; // one character, one byte
    }
    out.truncate(w - out.constData());
    return out;
}

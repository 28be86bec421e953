#include "DeviceStatusJson.h"

#include <algorithm>
#include <iterator>

namespace TaviWebModuleInternal {

namespace {

// The fixed parts of QJsonDocument's indented form of this shape: four
// spaces a level, members in alphabetical order, an empty array as "[",
// line break, indentation, "]".
constexpr char16_t kOpen[] = u"[\n";
constexpr char16_t kDeviceHead[] = u"    {\n        \"guid\": \"";
constexpr char16_t kDeviceInfo[] = u"\",\n        \"info\": [\n";
constexpr char16_t kChannelHead[] = u"            {\n                \"channelId\": ";
constexpr char16_t kChannelStatus[] = u",\n                \"status\": ";
constexpr char16_t kChannelTail[] = u"\n            }";
constexpr char16_t kDeviceTail[] = u"        ]\n    }";
constexpr char16_t kSeparator[] = u",\n";
constexpr char16_t kClose[] = u"]\n";

template<size_t N> constexpr qsizetype length(const char16_t (&)[N])
{
    return qsizetype(N - 1);
}

template<size_t N> char16_t* put(char16_t* out, const char16_t (&text)[N])
{
    return std::copy(text, text + N - 1, out);
}

char16_t* putDecimal(char16_t* out, int value)
{
    unsigned int magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    char16_t digits[12];
    char16_t* first = std::end(digits);
    do {
        *--first = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--first = u'-';
    return std::copy(first, std::end(digits), out);
}

// Printable ASCII that JSON writes as it is: the usual form of an id.
bool isPlain(const char* bytes, size_t size)
{
    return std::all_of(bytes, bytes + size,
                       [](char c) { return c >= 0x20 && c <= 0x7e && c != '"' && c != '\\'; });
}

// The id as QJsonDocument writes a string: quotes, backslashes and control
// characters escaped (lower-case hex), everything else as it is; a lone
// surrogate, which UTF-8 cannot carry, as its \u escape.
QString escapedId(const char* bytes, size_t size)
{
    const QString id = QString::fromUtf8(bytes, qsizetype(size));
    QString out;
    out.reserve(id.size() + 8);
    const char16_t* p = reinterpret_cast<const char16_t*>(id.utf16());
    const char16_t* const end = p + id.size();
    const auto hex = [](unsigned int u) { return QLatin1Char("0123456789abcdef"[u & 0xf]); };
    for (; p != end; ++p) {
        const char16_t u = *p;
        if (QChar::isHighSurrogate(u) && p + 1 != end && QChar::isLowSurrogate(p[1])) {
            out += QChar(u);
            out += QChar(*++p);
            continue;
        }
        if (u >= 0x20 && u != u'"' && u != u'\\' && !QChar::isSurrogate(u)) {
            out += QChar(u);
            continue;
        }
        out += QLatin1Char('\\');
        switch (u) {
        case u'"':
            out += QLatin1Char('"');
            break;
        case u'\\':
            out += QLatin1Char('\\');
            break;
        case u'\b':
            out += QLatin1Char('b');
            break;
        case u'\f':
            out += QLatin1Char('f');
            break;
        case u'\n':
            out += QLatin1Char('n');
            break;
        case u'\r':
            out += QLatin1Char('r');
            break;
        case u'\t':
            out += QLatin1Char('t');
            break;
        default:
            out += QLatin1Char('u');
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex(u >> shift);
        }
    }
    return out;
}

// The length of a text with these many devices (filled: those with
// channels) and channels, whose ids and numbers take these many characters.
qsizetype textLength(size_t devices, size_t filled, size_t channels, qsizetype idLength,
                     qsizetype numberLength)
{
    if (devices == 0)
        return length(kOpen) + length(kClose);
    const qsizetype separator = length(kSeparator);
    // Separators between the devices and between the channels of each; a
    // line break after a device's last channel and after the last device.
    return length(kOpen) + length(kClose) + 1 + qsizetype(devices - 1) * separator
        + qsizetype(devices) * (length(kDeviceHead) + length(kDeviceInfo) + length(kDeviceTail))
        + idLength + qsizetype(channels - filled) * separator + qsizetype(filled)
        + qsizetype(channels)
        * (length(kChannelHead) + length(kChannelStatus) + length(kChannelTail))
        + numberLength;
}

qsizetype decimalLength(int value)
{
    unsigned int magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    qsizetype n = value < 0 ? 2 : 1;
    while (magnitude >= 10) {
        magnitude /= 10;
        ++n;
    }
    return n;
}

// Writes the devices that forEachDevice hands over, as (id bytes, id size,
// first channel, end of channels), in one pass over them into a text
// allocated once for bound characters (pages of an unused rest are never
// touched) and cut to its length in place.
template<class ForEachDevice> QString writeJson(qsizetype bound, ForEachDevice forEachDevice)
{
    QString json(bound, Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(json.data());
    char16_t* out = put(begin, kOpen);
    bool firstDevice = true;
    forEachDevice([&](const char* id, size_t idSize, auto channel, auto channelEnd) {
        if (!firstDevice)
            out = put(out, kSeparator);
        firstDevice = false;
        out = put(out, kDeviceHead);
        if (isPlain(id, idSize)) {
            out = std::copy(id, id + idSize, out);
        } else {
            const QString text = escapedId(id, idSize);
            out = std::copy(text.utf16(), text.utf16() + text.size(), out);
        }
        out = put(out, kDeviceInfo);
        bool firstChannel = true;
        for (; channel != channelEnd; ++channel) {
            if (!firstChannel)
                out = put(out, kSeparator);
            firstChannel = false;
            out = put(out, kChannelHead);
            out = putDecimal(out, channel->first);
            out = put(out, kChannelStatus);
            out = putDecimal(out, channel->second);
            out = put(out, kChannelTail);
        }
        if (!firstChannel)
            *out++ = u'\n';
        out = put(out, kDeviceTail);
    });
    if (!firstDevice)
        *out++ = u'\n';
    out = put(out, kClose);
    Q_ASSERT(out - begin <= bound);
    json.resize(out - begin);
    json.squeeze();
    return json;
}

} // namespace

DeviceStatusSnapshot::DeviceStatusSnapshot(const DeviceStatusMap& status)
{
    size_t channelCount = 0;
    size_t idSize = 0;
    for (const auto& device : status) {
        channelCount += device.second.size();
        idSize += device.first.size();
    }
    idBytes.reserve(idSize);
    idEnds.reserve(status.size());
    channelEnds.reserve(status.size());
    channels.reserve(channelCount);
    for (const auto& device : status) {
        idBytes += device.first;
        idEnds.push_back(idBytes.size());
        channels.insert(channels.end(), device.second.begin(), device.second.end());
        channelEnds.push_back(channels.size());
    }
}

QString deviceStatusJson(const DeviceStatusMap& status)
{
    // Longer than the text can be: an id byte becomes at most six
    // characters (a control character's \u escape), a number at most eleven.
    // Counting the exact length would mean walking every channel twice.
    qsizetype idBytes = 0;
    size_t channels = 0;
    for (const auto& device : status) {
        idBytes += qsizetype(device.first.size());
        channels += device.second.size();
    }
    const qsizetype bound
        = textLength(status.size(), 0, channels, 6 * idBytes, 22 * qsizetype(channels));
    return writeJson(bound, [&status](auto&& visit) {
        for (const auto& device : status)
            visit(device.first.data(), device.first.size(), device.second.begin(),
                  device.second.end());
    });
}

QString deviceStatusJson(const DeviceStatusSnapshot& status)
{
    // The exact length (unless an id needs escapes): an allocation of the
    // same size as last time's can reuse its memory.
    qsizetype idLength = 0;
    size_t filled = 0;
    size_t idFrom = 0;
    size_t channelFrom = 0;
    for (size_t i = 0; i < status.idEnds.size(); ++i) {
        const size_t size = status.idEnds[i] - idFrom;
        idLength += qsizetype(isPlain(status.idBytes.data() + idFrom, size) ? size : 6 * size);
        filled += status.channelEnds[i] > channelFrom ? 1 : 0;
        idFrom = status.idEnds[i];
        channelFrom = status.channelEnds[i];
    }
    qsizetype numberLength = 0;
    for (const auto& [channel, value] : status.channels)
        numberLength += decimalLength(channel) + decimalLength(value);
    const qsizetype exact
        = textLength(status.idEnds.size(), filled, status.channels.size(), idLength, numberLength);
    return writeJson(exact, [&status](auto&& visit) {
        size_t idFrom = 0;
        size_t channelFrom = 0;
        for (size_t i = 0; i < status.idEnds.size(); ++i) {
            visit(status.idBytes.data() + idFrom, status.idEnds[i] - idFrom,
                  status.channels.begin() + qsizetype(channelFrom),
                  status.channels.begin() + qsizetype(status.channelEnds[i]));
            idFrom = status.idEnds[i];
            channelFrom = status.channelEnds[i];
        }
    });
}

} // namespace TaviWebModuleInternal

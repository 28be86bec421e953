#pragma once

// Reads a fuzz input piece by piece; every read gives a value, zeros once
// the input is used up, so that any input is a valid case. fail() reports a
// finding and ends the run, as libFuzzer expects of a crash.

#include <QtCore/QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

[[noreturn]] inline void fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(detail));
    std::abort();
}

class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {}

    bool empty() const { return m_pos >= m_size; }
    uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    int32_t int32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | byte();
        int32_t out;
        std::memcpy(&out, &v, sizeof out);
        return out;
    }
    // Up to n raw bytes.
    std::string bytes(size_t n)
    {
        n = std::min(n, m_size - std::min(m_pos, m_size));
        std::string out(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return out;
    }
    // Up to n UTF-16 code units, any of them: lone surrogates, NUL, line
    // and paragraph separators.
    QString utf16(size_t n)
    {
        QString out;
        while (n-- > 0 && m_pos + 1 < m_size) {
            out.append(QChar(char16_t((m_data[m_pos] << 8) | m_data[m_pos + 1])));
            m_pos += 2;
        }
        return out;
    }
    // What is left, as UTF-16 code units.
    QString restUtf16() { return utf16(m_size); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

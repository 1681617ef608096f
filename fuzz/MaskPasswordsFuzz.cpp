/*
 * Fuzzing harness: the masking of passwords in a server message or a statement before
 * it is logged (qv_mask_passwords).
 *
 * Input: two bytes of output capacity (1 to 8192), one byte whose bits mark absent
 * secrets, then the text and up to six secrets, cut at zero bytes. The output buffer
 * has exactly the capacity, so that a write past it is caught by the address sanitizer.
 *
 * Properties: the output is terminated within its capacity; no non-empty secret shows
 * in it, except where it overlaps the "***" that replaced something or the kept
 * "IDENTIFIED BY '" (texts the masking writes itself, which a secret may happen to
 * match; in a cut output also the start of one at its end); after every "IDENTIFIED BY '" comes
 * "***" (or the end of a cut output), never the literal; and every byte that is neither
 * in a secret nor in such a literal is kept, in order, each hidden run standing as one
 * "***" (the output is the masking rule's text, cut to the capacity).
 */
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <algorithm>

#include "Interfaces/dbengine/MySQL/Masking.h"
#include "fuzz/FuzzSupport.h"

static const char g_marker[] = "IDENTIFIED BY '";
static const size_t g_marker_length = sizeof g_marker - 1;

/* True when out[from, to) overlaps a '*' or a copy of the marker; in a cut output, the
 * start of a marker at its very end counts as a copy. */
static bool overlaps_masking_text(const std::string &out, bool cut, size_t from, size_t to)
{
    if (out.find('*', from) < to)
        return true;
    size_t start = from >= g_marker_length ? from - g_marker_length + 1 : 0;
    for (size_t at = out.find(g_marker, start); at != std::string::npos && at < to;
         at = out.find(g_marker, at + 1))
        if (at + g_marker_length > from)
            return true;
    for (size_t k = g_marker_length - 1; cut && k > 0; k--)
        if (out.size() >= k && out.compare(out.size() - k, k, g_marker, k) == 0)
            return to > out.size() - k;
    return false;
}

/* The text as the masking rule shows it, uncut: every byte of each occurrence of a
 * non-empty secret, and of the literal after each "IDENTIFIED BY '" up to its closing
 * quote, is hidden; each run of hidden bytes stands as "***", as does an empty literal;
 * every other byte is kept. */
static std::string masking_rule(const std::string &text, const char *const secrets[],
                                size_t count)
{
    const size_t n = text.size();
    std::vector<bool> hidden(n), literal_starts(n + 1);
    for (size_t i = 0; i < n; i++) {
        if (text.compare(i, g_marker_length, g_marker) == 0) {
            literal_starts[i + g_marker_length] = true;
            for (size_t j = i + g_marker_length; j < n && text[j] != '\''; j++)
                hidden[j] = true;
        }
        for (size_t k = 0; k < count; k++) {
            size_t length = secrets[k] ? strlen(secrets[k]) : 0;
            if (length > 0 && text.compare(i, length, secrets[k]) == 0)
                std::fill(hidden.begin() + i, hidden.begin() + i + length, true);
        }
    }
    std::string shown;
    for (size_t i = 0; i <= n; i++) {
        if (i < n && hidden[i]) {
            shown += "***";
            while (i + 1 < n && hidden[i + 1])
                i++;
            continue;
        }
        if (literal_starts[i] && (i == 0 || !hidden[i - 1]))
            shown += "***"; /* an empty literal */
        if (i < n)
            shown += text[i];
    }
    return shown;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t secret_slots = 6;
    if (size < 3)
        return 0;
    size_t capacity = 1 + ((data[0] | static_cast<size_t>(data[1]) << 8) % 8192);
    unsigned absent = data[2];
    std::vector<std::string> pieces = qv_fuzz_split(data + 3, size - 3, 1 + secret_slots);
    const char *secrets[secret_slots];
    for (size_t i = 0; i < secret_slots; i++)
        secrets[i] = (absent & (1u << i)) ? nullptr : pieces[1 + i].c_str();

    std::unique_ptr<char[]> out(new char[capacity]);
    memset(out.get(), 0x5A, capacity);
    qv_mask_passwords(pieces[0].c_str(), secrets, secret_slots, out.get(), capacity);

    QV_FUZZ_CHECK(memchr(out.get(), '\0', capacity) != nullptr);
    std::string shown(out.get());
    bool cut = shown.size() == capacity - 1;
    for (const char *secret : secrets) {
        if (secret == nullptr || secret[0] == '\0')
            continue;
        size_t length = strlen(secret);
        for (size_t at = shown.find(secret); at != std::string::npos;
             at = shown.find(secret, at + 1))
            QV_FUZZ_CHECK(overlaps_masking_text(shown, cut, at, at + length));
    }
    for (size_t at = shown.find(g_marker); at != std::string::npos;
         at = shown.find(g_marker, at + 1)) {
        std::string after = shown.substr(at + g_marker_length, 3);
        QV_FUZZ_CHECK(std::string("***").compare(0, after.size(), after) == 0);
        QV_FUZZ_CHECK(after.size() == 3 || cut);
    }
    QV_FUZZ_CHECK(shown == masking_rule(pieces[0], secrets, secret_slots).substr(0, capacity - 1));
    QV_FUZZ_CHECK(qv_fuzz_take_lines().empty());
    return 0;
}

/*
 * Fuzzing harness: the catalogue lookup by message code, any bytes as the code and any
 * language id.
 *
 * Input: four bytes of language id (any int), then the code up to the first zero byte.
 * Every language is built once at start-up under a UTF-8 locale.
 *
 * Properties: the answer is never null and the same text on each call; an id outside
 * 0 to 6 answers as language 0 and finds no entry of its own; a code shorter than nine
 * characters answers the empty text and has key 0; the first three characters, anything
 * after the ninth and the case of the hexadecimal digits do not change the answer; a
 * code whose last four characters are hexadecimal digits answers the text that the
 * language's message file (QVLib/messages/<tag>.msg, read at start-up) holds for it,
 * else the text of "en-US", else the empty text.
 */
#include <clocale>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "QVLib/GuiMessages.h"
#include "QVLib/messages/MsgcParser.h"
#include "fuzz/FuzzSupport.h"

/* Each language's texts as its message file holds them, by plain code. */
static std::map<std::string, std::string> g_sources[QV_GUI_LANG_COUNT];

/* The code with the same key as code (nine characters or more) in its plainest form:
 * prefix "KTR", the family as given, hexadecimal letters in lower case, nothing after. */
static std::string plain_code(const char *code)
{
    std::string plain = std::string("KTR") + code[3] + code[4];
    for (int i = 5; i < QV_GUI_CODE_LENGTH; i++)
        plain +=
            (code[i] >= 'A' && code[i] <= 'F') ? static_cast<char>(code[i] - 'A' + 'a') : code[i];
    return plain;
}

/* True when the four characters of the code's number are hexadecimal digits. */
static bool hex_number(const std::string &code)
{
    return code.find_first_not_of("0123456789abcdefABCDEF", 5) >= QV_GUI_CODE_LENGTH;
}

void qv_fuzz_setup(void)
{
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++) {
        std::string path = std::string(QV_MESSAGES_DIR "/") + qv_langid2name(id) + ".msg";
        std::ifstream stream(path);
        QVMsgFile file{path.c_str(), {}, {}};
        if (!stream || !qv_msgc_parse(&file, stream))
            qv_fuzz_fail(__FILE__, __LINE__, "every message file reads without a problem");
        for (const QVMsgRow &row : file.rows)
            g_sources[id][plain_code(row.code.c_str())] = row.text;
    }
    /* Under a UTF-8 locale every text converts to itself. */
    setlocale(LC_CTYPE, "C.UTF-8");
    qv_gui_set_lang(0);
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++) {
        qv_get_gui_hash_data(id, "");
        if (qv_gui_langs[id].built.load() == 0)
            qv_fuzz_fail(__FILE__, __LINE__, "every language builds");
    }
    qv_fuzz_take_lines();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    int id;
    memcpy(&id, data, sizeof id);
    std::string code = qv_fuzz_split(data + 4, size - 4, 1)[0];
    bool valid_id = id >= 0 && id < QV_GUI_LANG_COUNT;
    int used = valid_id ? id : 0;

    const char *text = qv_get_gui_message(id, code.c_str());
    QV_FUZZ_CHECK(text != nullptr);
    QV_FUZZ_CHECK(text == qv_get_gui_message(id, code.c_str()));
    QV_FUZZ_CHECK(text == qv_get_gui_message(used, code.c_str()));
    if (!valid_id)
        QV_FUZZ_CHECK(qv_get_gui_hash_data(id, code.c_str()) == nullptr);

    bool full = code.size() >= QV_GUI_CODE_LENGTH;
    if (!full) {
        QV_FUZZ_CHECK(qv_gui_code_to_key(code.c_str()) == 0);
        QV_FUZZ_CHECK(text[0] == '\0');
    } else {
        std::string plain = plain_code(code.c_str());
        QV_FUZZ_CHECK(text == qv_get_gui_message(id, plain.c_str()));
        if (hex_number(code)) {
            std::string expected;
            for (int source : {used, 0}) {
                auto found = g_sources[source].find(plain);
                if (found != g_sources[source].end()) {
                    expected = found->second;
                    break;
                }
            }
            QV_FUZZ_CHECK(expected == text);
        }
    }
    qv_fuzz_take_lines();
    return 0;
}

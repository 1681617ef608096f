/*
 * Fuzzing harness: the catalogue generator's parser of message files, any bytes
 * (qv_msgc_parse).
 *
 * Properties: the file is accepted exactly when no problem is listed, and each problem
 * names the file; every row kept has a nine-character code whose catalogue key no other
 * row shares (the generator's refusal and the catalogue's key agree), and a text without
 * zero bytes that the catalogue converts, under a UTF-8 locale, to itself.
 */
#include <clocale>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "QVLib/GuiMessages.h"
#include "QVLib/QVutf.h"
#include "QVLib/messages/MsgcParser.h"
#include "fuzz/FuzzSupport.h"

void qv_fuzz_setup(void)
{
    setlocale(LC_CTYPE, "C.UTF-8");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::istringstream stream(std::string(reinterpret_cast<const char *>(data), size));
    QVMsgFile file{"fuzz.msg", {}, {}};
    bool accepted = qv_msgc_parse(&file, stream);
    QV_FUZZ_CHECK(accepted == file.errors.empty());
    for (const std::string &error : file.errors)
        QV_FUZZ_CHECK(error.compare(0, 9, "fuzz.msg:") == 0);

    std::set<uint32_t> keys;
    for (const QVMsgRow &row : file.rows) {
        QV_FUZZ_CHECK(row.code.size() == QV_GUI_CODE_LENGTH);
        uint32_t key = qv_gui_code_to_key(row.code.c_str());
        QV_FUZZ_CHECK(key != 0);
        QV_FUZZ_CHECK(keys.insert(key).second || !accepted);
        QV_FUZZ_CHECK(row.text.find('\0') == std::string::npos);
        char *converted = nullptr;
        unsigned status = qv_utf_convert(row.text.c_str(), &converted);
        QV_FUZZ_CHECK(status == 0 && converted != nullptr && row.text == converted);
        free(converted);
    }
    qv_fuzz_take_lines();
    return 0;
}

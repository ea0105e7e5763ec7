// The digests of a file an earlier listing holds (--REUSE): a file whose
// size, full-precision times and identity are those of its row takes the
// row's digests and is read only for those the row lacks. The texts are
// those a read would give, so the listing is the same either way.
#include "content/digests.hpp"
#include "core/digest_registry.hpp"
#include "record/process_entry.hpp"
#include "record/record_writer.hpp"
#include "record/utf8.hpp"

namespace filarix {

std::string RecordWriter::row_path() const {
    const platform::PathSyntax& syntax = run_.syntax;
    std::u16string path(syntax.without_long_prefix(e_.pg_complete_path));
    if (s_.drive_letter != 0 && syntax.drive_letters && !path.empty())
        path[drive_offset(syntax, path)] = s_.drive_letter;
    return to_utf8_whole(syntax, path);
}

DigestTexts RecordWriter::reused_digests(DigestSet wanted) {
    const auto read = [&](DigestSet which) {
        return digest_file(run_, tools_.digests, e_.pg_complete_path, {.digests = which}, false,
                           e_.data.size);
    };
    // A window of the file has digests the listing does not name.
    if (s_.DISPLACE != 0 || s_.displace_end != 0) return read(wanted);
    const auto& facts = precise_facts();
    if (!facts) return read(wanted);
    const auto held = run_.reuse->held_digests(row_path(), e_.data.size, *facts);
    if (!held) return read(wanted);

    DigestTexts texts;
    DigestSet missing;
    for (std::size_t i = 0; i < digest_count; ++i) {
        const auto id = static_cast<DigestId>(i);
        if (!wanted.has(id)) continue;
        if ((*held)[i].empty())
            missing.add(id);
        else
            texts.texts[i] = (*held)[i];
    }
    if (missing.empty()) {
        texts.read_ok = true;
        run_.reuse->count_unread(e_.data.size);
        return texts;
    }
    // What the read found stands for every digest: a file that cannot be
    // read now gets the failure texts, as a full run gives it.
    DigestTexts got = read(missing);
    if (!got.read_ok) {
        for (std::size_t i = 0; i < digest_count; ++i)
            if (wanted.has(static_cast<DigestId>(i)))
                got.texts[i] = digest_row(static_cast<DigestId>(i)).failure_text;
        return got;
    }
    for (std::size_t i = 0; i < digest_count; ++i)
        if (!texts.texts[i].empty()) got.texts[i] = texts.texts[i];
    return got;
}

}  // namespace filarix

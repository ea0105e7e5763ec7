// The digests of a file taken instead of read: from an earlier listing
// (--REUSE) when the file's size, full-precision times and identity are
// those of its row, or from another name of the same file read before in
// this run. A file is read only for the digests none holds. The texts are
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

DigestSet digests_read_ahead(const Run& run) {
    const RunSettings& s = run.s;
    if (run.sizing_pass || s.NAMEONLY || s.DISPLACE != 0 || s.displace_end != 0 ||
        !s.reuse_name.empty() || !s.command_text.empty() || s.ADSONLY || s.SHOWLONG ||
        s.owner >= 2 || s.attr_filter || s.aging || s.GREATER || s.LESSTHAN ||
        s.signature_check != signature_none || s.NOCHILD != nochild_off)
        return {};
    DigestSet wanted = shown_digests(s);
    if (const auto set_kind = run.known_digests.kind()) wanted.add(*set_kind);
    return wanted;
}

DigestTexts RecordWriter::reused_digests(DigestSet wanted) {
    const auto read = [&](DigestSet which) {
        return digest_file(run_, tools_.digests, e_.pg_complete_path, {.digests = which}, false,
                           e_.data.size);
    };
    // A window of the file has digests that neither source names.
    if (s_.DISPLACE != 0 || s_.displace_end != 0) return read(wanted);
    const auto& facts = precise_facts();
    if (!facts) return read(wanted);
    DigestsOnHand& on_hand = run_.on_hand;
    const auto held = on_hand.find([this] { return row_path(); }, e_.data.size, *facts);
    if (!held) {
        DigestTexts got = read(wanted);
        if (got.read_ok) on_hand.remember(e_.data.size, *facts, got.texts);
        return got;
    }

    DigestTexts texts;
    DigestSet missing;
    for (std::size_t i = 0; i < digest_count; ++i) {
        const auto id = static_cast<DigestId>(i);
        if (!wanted.has(id)) continue;
        if (held->digests[i].empty())
            missing.add(id);
        else
            texts.texts[i] = held->digests[i];
    }
    if (missing.empty()) {
        texts.read_ok = true;
        held->source->count_unread(e_.data.size);
        if (held->source != &on_hand.links) on_hand.remember(e_.data.size, *facts, texts.texts);
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
    on_hand.remember(e_.data.size, *facts, got.texts);
    return got;
}

}  // namespace filarix

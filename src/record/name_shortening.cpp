#include "record/name_shortening.hpp"

namespace filarix {

std::u16string name_shorten(const platform::PathSyntax& syntax, std::u16string_view path,
                            std::int32_t width) {
    const std::u16string_view body = syntax.without_long_prefix(path);
    if (width < 8 || static_cast<std::size_t>(width) >= path.size()) return std::u16string(body);
    std::u16string result(body.substr(0, 2));
    result += syntax.separator;
    result += u"...";
    // The leftmost separator among the last width - 6 characters keeps the
    // result within the width; failing that, the last component is kept.
    const std::size_t span = static_cast<std::size_t>(width) - 6;
    const std::size_t stop = body.size() > span ? body.size() - span : 0;
    std::size_t cut = std::u16string_view::npos;
    for (std::size_t i = body.size(); i-- > stop;)
        if (syntax.is_separator(body[i])) cut = i;
    if (cut == std::u16string_view::npos) {
        cut = syntax.last_separator(body);
        if (cut == std::u16string_view::npos) cut = 0;
    }
    result += body.substr(cut);
    return result;
}

std::u16string name_elide(const platform::PathSyntax& syntax, std::u16string_view path,
                          std::uint64_t width) {
    // The long-path prefix is never shown, so it takes no room in the head.
    const std::u16string_view body = syntax.without_long_prefix(path);
    if (width < body.size() && width >= 11) {
        std::size_t cut = syntax.last_separator(body);
        if (cut == std::u16string_view::npos) cut = 0;
        const std::u16string_view tail = body.substr(cut);
        const long long head =
            static_cast<long long>(width) - static_cast<long long>(tail.size()) - 3;
        std::u16string result(head < 0 ? body : body.substr(0, static_cast<std::size_t>(head)));
        result += u"...";
        result += tail;
        return result;
    }
    return std::u16string(body);
}

PathParts split_long_path(const platform::PathSyntax& syntax, std::u16string_view path) {
    PathParts parts;
    std::size_t rest = 0;
    if (syntax.drive_letters && path.size() >= 2 && path[1] == u':') {
        parts.drive = path.substr(0, 2);
        rest = 2;
    } else if (syntax.drive_letters && path.size() >= 6 && path[5] == u':') {
        parts.drive = path.substr(4, 2);
        rest = 6;
    }
    const std::u16string_view text = path.substr(rest);
    std::size_t name_end = syntax.drive_letters ? text.find(u':') : std::u16string_view::npos;
    if (name_end == std::u16string_view::npos) name_end = text.size();
    std::size_t ext_start = name_end;
    for (std::size_t i = name_end; i-- > 0;) {
        if (syntax.is_separator(text[i])) break;
        if (text[i] == u'.') {
            ext_start = i;
            break;
        }
    }
    std::size_t base_start = 0;
    for (std::size_t i = ext_start; i-- > 0;)
        if (syntax.is_separator(text[i])) {
            base_start = i + 1;
            break;
        }
    parts.extension = ext_start < name_end ? text.substr(ext_start) : std::u16string_view();
    parts.base = text.substr(base_start, ext_start - base_start);
    parts.directory = text.substr(0, base_start);
    return parts;
}

PathParts split_display_path(const platform::PathSyntax& syntax, std::u16string_view path) {
    if (path.size() > 255) return split_long_path(syntax, path);
    PathParts parts;
    std::size_t rest = 0;
    if (syntax.drive_letters && path.size() >= 2 && path[1] == u':') {
        parts.drive = path.substr(0, 2);
        rest = 2;
    }
    const std::u16string_view text = path.substr(rest);
    const std::size_t sep = syntax.last_separator(text);
    const std::size_t name_start = sep == std::u16string_view::npos ? 0 : sep + 1;
    parts.directory = text.substr(0, name_start);
    const std::u16string_view name = text.substr(name_start);
    const std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        parts.base = name;
    } else {
        parts.base = name.substr(0, dot);
        parts.extension = name.substr(dot);
    }
    return parts;
}

}  // namespace filarix

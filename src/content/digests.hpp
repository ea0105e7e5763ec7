// CRC-32, MD5 and SHA-1 of a file's contents, as record texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/run.hpp"

const std::string& crc32_file(Run& run, std::u16string_view path, std::uint32_t& crc_out);
const std::string& md5_file(Run& run, std::u16string_view path);
const std::string& sha1_file(Run& run, std::u16string_view path);

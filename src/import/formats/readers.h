// Every format's reader and the test of its first lines, as the format table
// names them. Each format's pair lives in a file of its own.
#pragma once

#include <string>
#include <string_view>

#include "import/formats/formats.h"

namespace lexaro::import {

// Tab-separated text as PyGlossary's Tabfile writes it: "word<TAB>definition"
// per line, "\n", "\t" and "\\" escaped in both; "##name<TAB>Title" (or
// "##name Title") and other "##key value" header lines before the first
// entry. A definition that holds HTML tags or character references is
// marked HTML. Blank lines and lines without a tab are skipped.
std::string read_tab(reader_input& input, entry_sink& sink);

// Debian's trans-de-en: "German :: English" per line, "#" lines comments.
// Both sides are cut at " | " into parts that belong together, and each
// German part at "; " into alternatives (never inside brackets). Every
// alternative is a word, with its annotations ({n}, [mus.], (...), <...>)
// left out and its spaces made single; its translation is the English part
// in the same place, or the whole English side when the two sides have a
// different number of parts; that part is also the entry's terms, and the
// alternative's first annotation in braces ({vt}) its grammar. The title is
// the file's name and the version from its "# Version :: " comment.
std::string read_trans(reader_input& input, entry_sink& sink);

// Text with its bracketed annotations ({n}, [ugs.], (...), <Abk.>) taken out
// into `annotations` (joined by spaces), the rest, its spaces made single and
// trimmed, into `word`. A bracket that is never closed is kept as text. The
// words of trans-de-en and dict.cc.
void split_annotations(std::string_view text, std::string& word, std::string& annotations);

// lexaro's own source: the first line is the title, every further line
// "word$translation", cut at its first '$'. Line ends LF or CR LF; a byte
// 0x1A ends the input; blank lines are skipped. import_error for a line
// without '$', naming the file and the line.
std::string read_source(reader_input& input, entry_sink& sink);

// The formats that read text of their own kind, each in its own file.
std::string read_dsl(reader_input& input, entry_sink& sink);
bool looks_like_dsl(std::string_view sample, bool whole_file);
std::string read_xdxf(reader_input& input, entry_sink& sink);
bool looks_like_xdxf(std::string_view sample, bool whole_file);
std::string read_tei(reader_input& input, entry_sink& sink);
bool looks_like_tei(std::string_view sample, bool whole_file);
// JMdict and JMnedict XML: every written form and reading a word, the
// senses in the language of --translations (English by default).
std::string read_jmdict(reader_input& input, entry_sink& sink);
bool looks_like_jmdict(std::string_view sample, bool whole_file);
std::string read_csv(reader_input& input, entry_sink& sink);
bool looks_like_csv(std::string_view sample, bool whole_file);
std::string read_dictcc(reader_input& input, entry_sink& sink);
bool looks_like_dictcc(std::string_view sample, bool whole_file);
std::string read_edict(reader_input& input, entry_sink& sink);
bool looks_like_edict(std::string_view sample, bool whole_file);
std::string read_cedict(reader_input& input, entry_sink& sink);
bool looks_like_cedict(std::string_view sample, bool whole_file);
std::string read_wiktextract(reader_input& input, entry_sink& sink);
bool looks_like_wiktextract(std::string_view sample, bool whole_file);

// Babylon glossaries (X.bgl), read from the file by path, twice: words,
// alternates and definitions made UTF-8 from the sets the file names (or
// --input-charset), with runs of UTF-8 found and counted. The sample test
// looks for the signature and the offset of the gzip data.
std::string read_babylon(reader_input& input, entry_sink& sink);
bool looks_like_babylon(std::string_view sample, bool whole_file);
// MDict (X.mdx, engine versions 1.x, 2.0 and 3.0): every key a word, its
// record the translation, a record "@@@LINK=other" the translation of other.
// Reads the file by path; refuses X.mdd and files enciphered for one
// registered user by name.
std::string read_mdict(reader_input& input, entry_sink& sink);
// Whether the first bytes are an MDict header: its length, then
// "<Dictionary" or "<Library_Data" in UTF-16LE, or "<ZDB " in UTF-8.
bool looks_like_mdict(std::string_view sample, bool whole_file);
// Yomitan dictionaries (X.zip: index.json and term, kanji and meta banks of
// JSON): every expression and reading a word, every kanji one; frequency,
// pitch and IPA rows counted. Reads the archive by path through minizip.
std::string read_yomitan(reader_input& input, entry_sink& sink);
// Whether the first bytes are a zip archive's.
bool looks_like_yomitan(std::string_view sample, bool whole_file);

}  // namespace lexaro::import

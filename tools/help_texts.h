// The texts of the mirdcng command's help: the forms of each command and the
// notes under its options. The manual page (tools/mirdcng.1) says the same at
// length.
#ifndef MIRDCNG_TOOLS_HELP_TEXTS_H_
#define MIRDCNG_TOOLS_HELP_TEXTS_H_

namespace mirdcng::tool::help {

inline constexpr const char* kExitStatuses =
    "exit status: 0 done, 1 refused or failed, 2 bad command line,\n"
    "             3 the source cannot be opened, 5 wrong tag;\n"
    "             for many files, the highest of theirs\n";

inline constexpr const char* kSummary =
    "Files are encrypted with AES-128-CBC under a key built into the library:\n"
    "this hides their content from those without the library, nothing more.\n"
    "Paths are taken as they are named; with --host-names, encrypt and decrypt\n"
    "take SRC and DST under the .ebs naming rule, as the library's file\n"
    "functions do for a host.\n";

// The usage lines of each command, after "Usage: ".
inline constexpr const char* kEncryptUsage =
    "mirdcng encrypt [OPTIONS] {SRC|-} {DST|-}\n"
    "       mirdcng encrypt [OPTIONS] -i [-r] PATH...\n"
    "       mirdcng encrypt [OPTIONS] [-r] PATH... -o DIR\n";
inline constexpr const char* kDecryptUsage =
    "mirdcng decrypt [OPTIONS] {SRC|-} {DST|-}\n"
    "       mirdcng decrypt [OPTIONS] -i [-r] PATH...\n"
    "       mirdcng decrypt [OPTIONS] [-r] PATH... -o DIR\n";
inline constexpr const char* kVerifyUsage = "mirdcng verify [OPTIONS] [-r] PATH...\n";

inline constexpr const char* kTagSources =
    "The tag is the first of: -t TAG, --tag-file FILE, the environment's\n"
    "MIRDCNG_TAG (when not empty). -t shows it to every user of the machine,\n"
    "for as long as the command runs; the other two do not.\n";

inline constexpr const char* kManyFiles =
    "With -i or -o, each file among the PATHs is worked on (with -r, each file\n"
    "in the folders among them too; links met there are not followed), -j at\n"
    "a time. Files that need no work are skipped and counted, and so is an\n"
    "output under DIR that exists (--force replaces it): the same command run\n"
    "twice does no harm. A file that fails is reported, and the others go on.\n";

inline constexpr const char* kEncryptNotes =
    "Refused: a SRC already encrypted (it begins with 0xDD), an empty SRC with\n"
    "no tag, a SRC of 2 GiB or more, a DST that is not a regular file, an\n"
    "existing DST other than SRC (unless --force). DST is left as it was on\n"
    "every refusal and failure. DST may be SRC itself: the file is then\n"
    "replaced by its encrypted form. SRC \"-\" is standard input, read whole;\n"
    "DST \"-\" is standard output, written once the whole container exists.\n"
    "-i and -o skip files already encrypted and, without a tag, empty ones.\n";

inline constexpr const char* kDecryptNotes =
    "A wrong tag exits with 5 and writes nothing. SRC \"-\" is standard input,\n"
    "read whole; DST \"-\" is standard output, written once the tag matched.\n"
    "An existing DST other than SRC is replaced only with --force. -i and -o\n"
    "skip files that are not encrypted.\n";

inline constexpr const char* kVerifyNotes =
    "Checks that each file is a whole encrypted file that decrypts and, when a\n"
    "tag is given, that it was sealed with that tag; writes no plaintext\n"
    "anywhere. Exit status 0 only when every file passes. A folder needs -r.\n";

inline constexpr const char* kCatNotes =
    "FILE is written the way the framework reads it: an encrypted file's\n"
    "plaintext (no tag needed), any other file byte for byte. A file with the\n"
    "whole layout of an encrypted one (0xDD, the 18-byte header, a ciphertext\n"
    "of whole 16-byte blocks) that cannot be decrypted is an error, never\n"
    "printed. FILE \"-\" is standard input, taken as a file's content: a whole\n"
    "encrypted file is read whole and written decrypted, anything else passes\n"
    "as it comes. A pipe or FIFO named as a file (/dev/stdin) is what the\n"
    "framework would serve raw: printed as it comes, never decrypted. A FIFO\n"
    "nobody writes to, a device, a socket or a folder is refused.\n";

inline constexpr const char* kInspectNotes =
    "Reads only the 18-byte header and the size; never decrypts. FILE must be\n"
    "a regular file. --json writes one object: file, size, encrypted, and for\n"
    "an encrypted file tag_length, iv, ciphertext_length and whole.\n";

}  // namespace mirdcng::tool::help

#endif  // MIRDCNG_TOOLS_HELP_TEXTS_H_

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Result.h"

// Web archives (WARC 1.1, ISO 28500): the records that replay tools and the archiving world's
// readers take, one gzip member per record when the file is compressed.
namespace sarnika::curation {

// Where the bytes go, piece by piece.
using ByteSink = std::function<Status(std::string_view)>;
// A body read from its start each time it is asked for: the digests take one pass over it and
// the writing another, so that no body is ever held whole.
using BodySource = std::function<Status(const ByteSink&)>;

struct WarcRecord {
    std::string type;      // "warcinfo", "response", "resource", "metadata"
    std::string recordId;  // "<urn:uuid:…>"
    std::string date;      // "2013-05-01T12:00:00Z"
    std::string targetUri; // empty for warcinfo
    std::string contentType;
    // Further named fields in the order given (WARC-Concurrent-To, WARC-Warcinfo-ID, …).
    std::vector<std::pair<std::string, std::string>> fields;
    // The block's start: a response's HTTP status line and headers, empty for the others.
    std::string head;
    // What follows the head; a record without one has an empty block.
    BodySource payload;
    // Whether the payload is a document of its own (response, resource): it gets a
    // WARC-Payload-Digest beside the block's.
    bool digestPayload = false;
};

// Writes records one after the other into a sink.
class WarcWriter {
public:
    WarcWriter(ByteSink out, bool gzipMembers);
    Status write(const WarcRecord& record);

private:
    ByteSink m_out;
    bool m_gzip;
};

// A new record id: "<urn:uuid:" and a random (version 4) UUID ">".
std::string newRecordId();

// "YYYY-MM-DDThh:mm:ssZ" of a Unix time.
std::string warcDate(std::int64_t unixSeconds);

// The HTTP head a cache kept, as an archive keeps it in front of the body the cache stored:
// CR LF lines ending in an empty one; a header that no longer describes the stored body
// (Transfer-Encoding, a Content-Length of another length) is kept under an X-Archive-Orig-
// name, and the body's own length is given. A body the cache kept decoded loses its
// Content-Encoding the same way.
std::string archivedHttpHead(std::string_view storedHead, std::uint64_t bodyLength,
                             bool bodyDecoded = false);

} // namespace sarnika::curation

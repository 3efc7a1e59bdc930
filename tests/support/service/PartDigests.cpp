#include "support/service/PartDigests.h"

#include <Poco/DigestEngine.h>

#include <algorithm>
#include <stdexcept>

namespace fv_test {

PartDigests::PartDigests(std::vector<uint64_t> partSizes) : m_partSizes(std::move(partSizes))
{
    if (!m_partSizes.empty())
        m_left = m_partSizes.front();
}

void PartDigests::update(const char* data, size_t size)
{
    while (size > 0) {
        closeFullParts();
        if (m_digests.size() == m_partSizes.size())
            throw std::invalid_argument("the content is longer than its parts");
        const size_t take = static_cast<size_t>(std::min<uint64_t>(size, m_left));
        m_md5.update(data, take);
        m_left -= take;
        data += take;
        size -= take;
    }
}

std::vector<std::string> PartDigests::finish()
{
    closeFullParts();
    if (m_digests.size() != m_partSizes.size())
        throw std::invalid_argument("the parts are longer than the content");
    return m_digests;
}

void PartDigests::closeFullParts()
{
    while (m_left == 0 && m_digests.size() < m_partSizes.size()) {
        m_digests.push_back(Poco::DigestEngine::digestToHex(m_md5.digest()));
        if (m_digests.size() < m_partSizes.size())
            m_left = m_partSizes[m_digests.size()];
    }
}

} // namespace fv_test

#include "link/Link.h"

namespace korv {

TData takeValue(const DataIn& input, const TData& ownDefault, TData& incoming)
{
    if (input.isConnected()) {
        TData v = input.read();
        if (!v.isNoValue())
            return v;
    }
    const bool defaultIsEmpty =
        ownDefault.isEmpty() || ownDefault.isNoValue() ||
        (ownDefault.kind() == TData::Kind::Integer && ownDefault.toInt() == 0);
    if (!defaultIsEmpty)
        return ownDefault;
    TData first = incoming.head();
    incoming.advance();
    return first;
}

} // namespace korv

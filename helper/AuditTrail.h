#pragma once

#include <cstdint>
#include <string>

#include "helper/Caller.h"

namespace kb {

enum class AuditEvent { itemTrashed, itemRemoved, itemRestored, protectionCleared,
                        processSignalled, serviceStopped, receiptForgotten, requestRefused };
struct AuditRecord { AuditEvent event = AuditEvent::itemRemoved; std::string request;
    std::uint32_t actedUid = 0; std::string path; std::string outcome; std::string authority; };
void audit(const Caller& caller, const AuditRecord& record);   // authority: "root", "own" or the polkit action id

}  // namespace kb

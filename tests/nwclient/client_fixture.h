// A client connected to a small in-memory school, and helpers that run the NetWare calls the
// way the directory layer does (a 4096-byte reply, batches until the handle is -1).
#pragma once

#include "memory_backend.h"
#include "nwclient/client_setup.h"
#include "nwclient/fault_backend.h"
#include "nwclient/nwclient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

struct Listed {
    std::vector<std::string> names;
    std::vector<uint32_t> flags;
    std::vector<std::string> classes;
    int replies = 0;
    nw::NWDSCCODE status = 0;
};

class ClientTest : public ::testing::Test {
protected:
    MemoryBackend* tree = nullptr;
    nw::FaultBackend* faults = nullptr;
    nw::NWDSContextHandle ctx = -1;
    nw::ObjectId unterricht = 0, projekte = 0, schueler = 0, klasse5a = 0, leer = 0, dotted = 0, gross = 0;
    nw::ObjectId gast01 = 0, gast02 = 0, denyGroup = 0;

    void SetUp() override {
        nw::resetClient();
        auto backend = std::make_unique<MemoryBackend>();
        tree = backend.get();
        unterricht = tree->add(nw::ROOT_ID, "UNTERRICHT", "Organization", true);
        projekte = tree->add(unterricht, "PROJEKTE", "Organizational Unit", true);
        denyGroup = tree->add(projekte, "G_User_Internet_Deny", "Group");
        gast01 = tree->add(projekte, "Gast01", "User");
        gast02 = tree->add(projekte, "Gast02", "User");
        schueler = tree->add(unterricht, "SCHUELER", "Organizational Unit", true);
        klasse5a = tree->add(schueler, "KLASSE5A", "Organizational Unit", true);
        for (int i = 1; i <= 25; ++i) tree->add(klasse5a, "s5a" + std::to_string(i), "User");
        leer = tree->add(unterricht, "LEER", "Organizational Unit", true);
        dotted = tree->add(unterricht, "A.B", "Organizational Unit", true);
        tree->add(dotted, "x", "User");
        gross = tree->add(unterricht, "GROSS", "Organizational Unit", true);
        for (int i = 0; i < 600; ++i) {
            if (i % 30 == 0) tree->add(gross, "ou" + std::to_string(i), "Organizational Unit", true);
            tree->add(gross, "user" + std::to_string(i), "User");
        }
        auto wrapper = std::make_unique<nw::FaultBackend>(std::move(backend));
        faults = wrapper.get();
        nw::installBackend(std::move(wrapper));
        uint32_t ref = 0;
        ASSERT_EQ(nw::NWCCGetPrimConnRef(&ref), nw::SUCCESSFUL);
        ASSERT_EQ(nw::NWDSCreateContextHandle(&ctx), nw::SUCCESSFUL);
    }

    void TearDown() override { nw::resetClient(); }

    nw::NWDSCCODE setContext(const std::string& name) {
        return nw::NWDSSetContext(ctx, nw::DCK_NAME_CONTEXT, name.c_str());
    }
    std::string getContext() {
        char buf[nw::MAX_DN_BYTES] = {};
        EXPECT_EQ(nw::NWDSGetContext(ctx, nw::DCK_NAME_CONTEXT, buf), nw::SUCCESSFUL);
        return buf;
    }

    // Every entry of a listing, batch by batch.
    Listed list(const std::string& container, bool containersOnly = false, size_t bufferSize = nw::DEFAULT_MESSAGE_LEN) {
        Listed out;
        nw::Buf_T* buf = nullptr;
        EXPECT_EQ(nw::NWDSAllocBuf(bufferSize, &buf), nw::SUCCESSFUL);
        int32_t iter = nw::NO_MORE_ITERATIONS;
        do {
            out.status = containersOnly ? nw::NWDSListContainers(ctx, container.c_str(), &iter, buf)
                                        : nw::NWDSList(ctx, container.c_str(), &iter, buf);
            if (out.status != nw::SUCCESSFUL) break;
            ++out.replies;
            uint32_t count = 0;
            EXPECT_EQ(nw::NWDSGetObjectCount(ctx, buf, &count), nw::SUCCESSFUL);
            for (uint32_t i = 0; i < count; ++i) {
                char name[nw::MAX_DN_BYTES];
                uint32_t attrs = 99;
                nw::Object_Info_T info{};
                EXPECT_EQ(nw::NWDSGetObjectName(ctx, buf, name, &attrs, &info), nw::SUCCESSFUL);
                out.names.push_back(name);
                out.flags.push_back(info.objectFlags);
                out.classes.push_back(info.baseClass);
            }
        } while (iter != nw::NO_MORE_ITERATIONS);
        nw::NWDSFreeBuf(buf);
        return out;
    }

    // Every value of one attribute as the value blocks' first text, with the replies counted.
    struct ReadResult {
        nw::NWDSCCODE status = 0;
        int replies = 0;
        std::vector<std::string> texts;
        std::vector<std::string> attrNames;
    };
    ReadResult readTexts(const std::string& object, const std::string& attribute) {
        ReadResult r;
        nw::Buf_T* names = nullptr;
        nw::Buf_T* reply = nullptr;
        nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &names);
        nw::NWDSInitBuf(ctx, nw::DSV_READ, names);
        nw::NWDSPutAttrName(ctx, names, attribute.c_str());
        nw::NWDSAllocBuf(nw::DEFAULT_MESSAGE_LEN, &reply);
        nw::NWDSInitBuf(ctx, nw::DSV_READ, reply);
        int32_t iter = nw::NO_MORE_ITERATIONS;
        do {
            r.status = nw::NWDSRead(ctx, object.c_str(), nw::DS_ATTRIBUTE_VALUES, 0, names, &iter, reply);
            if (r.status != nw::SUCCESSFUL) break;
            ++r.replies;
            uint32_t attrCount = 0, valCount = 0, syntax = 0;
            EXPECT_EQ(nw::NWDSGetAttrCount(ctx, reply, &attrCount), nw::SUCCESSFUL);
            char attrName[nw::MAX_SCHEMA_NAME_BYTES];
            EXPECT_EQ(nw::NWDSGetAttrName(ctx, reply, attrName, &valCount, &syntax), nw::SUCCESSFUL);
            r.attrNames.push_back(attrName);
            for (uint32_t i = 0; i < valCount; ++i) {
                uint32_t size = 0;
                EXPECT_EQ(nw::NWDSComputeAttrValSize(ctx, reply, syntax, &size), nw::SUCCESSFUL);
                std::vector<char> block(size);
                EXPECT_EQ(nw::NWDSGetAttrVal(ctx, reply, syntax, block.data()), nw::SUCCESSFUL);
                r.texts.emplace_back(block.data());
            }
        } while (iter != nw::NO_MORE_ITERATIONS);
        nw::NWDSFreeBuf(reply);
        nw::NWDSFreeBuf(names);
        return r;
    }
};

}  // namespace testsupport

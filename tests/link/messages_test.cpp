#include "Messages.h"

#include <cstring>
#include <stdexcept>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <vector>

using namespace sorka::kbt::messages;

namespace {
const std::set<int> kCatalogue = {0, 10, 11, 12, 13, 14, 15, 22, 114, 115, 150, 190, 191, 192, 193, 194, 195, 196, 200, 201};

std::unique_ptr<Message> make(std::uint16_t word, std::vector<unsigned char> payload) {
    return createMessage(word, payload.empty() ? nullptr : payload.data(), static_cast<std::uint16_t>(payload.size()));
}

template <class T>
T* as(const std::unique_ptr<Message>& m) { return dynamic_cast<T*>(m.get()); }
} // namespace

TEST(message_factory, flag_bit_is_recorded_and_stripped) {
    auto m = make(0x80C2, {});
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type(), 194);
    EXPECT_TRUE(m->flag());
    EXPECT_TRUE(as<BeginUpdateAckMessage>(m));
}

TEST(message_factory, ids_outside_the_catalogue_build_nothing) {
    std::vector<unsigned char> payload(64, 0);
    for (int id = 0; id < 0x8000; ++id) {
        auto m = createMessage(static_cast<std::uint16_t>(id), payload.data(), 0);
        if (kCatalogue.count(id) && id != 11 && id != 12 && id != 13 && id != 22 && id != 115 && id != 150 && id != 190 && id != 192) {
            ASSERT_TRUE(m) << id;
            EXPECT_EQ(m->type(), id);
        } else if (!kCatalogue.count(id)) {
            ASSERT_FALSE(m) << id;
        }
    }
}

TEST(message_factory, empty_payload_classes_ignore_the_bytes) {
    auto m = make(14, {1, 2, 3});
    ASSERT_TRUE(as<ReqVersionMessage>(m));
    EXPECT_EQ(m->payloadSize(), 0);
}

TEST(message_parse, id_info_needs_exactly_four_bytes) {
    EXPECT_FALSE(make(11, {1, 2, 3}));
    EXPECT_FALSE(make(11, {1, 2, 3, 4, 5}));
    EXPECT_FALSE(make(11, {}));
    auto m = make(11, {0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(as<IdInfoMessage>(m));
    EXPECT_EQ(as<IdInfoMessage>(m)->id(), 0xFFFFFFFFu);
    auto s = make(13, {1, 0, 0, 0});
    ASSERT_TRUE(as<IdSetMessage>(s));
    EXPECT_EQ(as<IdSetMessage>(s)->id(), 1u);
}

TEST(message_parse, text_length_must_match) {
    auto empty = make(150, {0, 0});
    ASSERT_TRUE(as<TextMessage>(empty));
    EXPECT_STREQ(as<TextMessage>(empty)->text(), "");
    EXPECT_FALSE(make(150, {5, 0, 'a', 'b', 'c', 'd'}));
    EXPECT_FALSE(make(150, {0}));
    auto cut = make(150, {4, 0, 'a', 0, 'c', 'd'});
    ASSERT_TRUE(cut);
    EXPECT_STREQ(as<TextMessage>(cut)->text(), "a");
    auto full = make(150, {3, 0, 'Q', 'V', '\n'});
    EXPECT_STREQ(as<TextMessage>(full)->text(), "QV\n");
}

TEST(message_parse, data_fragment_length_field) {
    auto none = make(192, {1, 0, 0, 0, 0, 0});
    ASSERT_TRUE(as<DataFragmentMessage>(none));
    EXPECT_EQ(as<DataFragmentMessage>(none)->length(), 0);
    EXPECT_EQ(as<DataFragmentMessage>(none)->offset(), 1u);
    EXPECT_FALSE(make(192, {0, 0, 0, 0, 1, 0}));
    EXPECT_FALSE(make(192, {0, 0, 0, 0, 0}));
    auto one = make(192, {0, 0, 0, 0, 1, 0, 0xAB});
    ASSERT_TRUE(one);
    EXPECT_EQ(as<DataFragmentMessage>(one)->data()[0], 0xAB);
}

TEST(message_parse, settings_text_up_to_first_zero_or_whole_payload) {
    std::vector<unsigned char> p = {'A', '=', '1', 0, 'B'};
    auto m = createMessage(201, p.data(), 5);
    ASSERT_TRUE(as<SettingsMessage>(m));
    EXPECT_STREQ(as<SettingsMessage>(m)->text(), "A=1");
    EXPECT_EQ(as<SettingsMessage>(m)->text(), reinterpret_cast<const char*>(p.data())) << "refers to the payload";
    auto noZero = make(201, {'x', 'y'});
    EXPECT_STREQ(as<SettingsMessage>(noZero)->text(), "xy");
    auto empty = make(201, {});
    EXPECT_STREQ(as<SettingsMessage>(empty)->text(), "");
}

TEST(message_parse, settings_request_for_empty_text_is_one_zero_byte) {
    SettingsMessage m;
    m.setText("");
    EXPECT_EQ(m.payloadSize(), 1);
    EXPECT_EQ(m.payload()[0], 0);
}

TEST(message_parse, extended_id_info_lengths_must_stay_inside) {
    ExtendedIdInfoMessage src(0x11223344, "QV", "1.0", "");
    Block p = src.payload();
    std::vector<unsigned char> bytes(p.get(), p.get() + src.payloadSize());
    auto m = make(12, bytes);
    ASSERT_TRUE(as<ExtendedIdInfoMessage>(m));
    EXPECT_EQ(as<ExtendedIdInfoMessage>(m)->id(), 0x11223344u);
    EXPECT_EQ(as<ExtendedIdInfoMessage>(m)->text(1), "1.0");
    // Every truncation fails; a text length that runs past the end fails.
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(make(12, std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(cut)))) << cut;
    bytes[4] = 0xFF;
    EXPECT_FALSE(make(12, bytes));
}

TEST(message_parse, fixed_size_payloads) {
    EXPECT_FALSE(make(22, {1, 2, 3}));
    auto cal = make(22, {0xFF, 0xFF, 2, 0});
    EXPECT_EQ(as<StartCalibrationMessage>(cal)->value1(), -1);
    EXPECT_EQ(as<StartCalibrationMessage>(cal)->value2(), 2);
    EXPECT_FALSE(make(115, std::vector<unsigned char>(23)));
    auto diag = make(115, std::vector<unsigned char>(24, 9));
    unsigned char out[24] = {};
    as<DiagnosticMessage>(diag)->copyTo(out);
    EXPECT_EQ(out[23], 9);
    EXPECT_FALSE(make(190, std::vector<unsigned char>(7)));
    auto commit = make(190, {1, 0, 0, 0, 2, 0, 0, 0});
    EXPECT_EQ(as<CommitUpdateMessage>(commit)->byteCount(), 1u);
    EXPECT_EQ(as<CommitUpdateMessage>(commit)->crc(), 2u);
}

TEST(message_round_trip, payload_classes_parse_what_they_serialise) {
    std::vector<std::unique_ptr<Message>> msgs;
    msgs.push_back(std::make_unique<IdInfoMessage>(123456));
    msgs.push_back(std::make_unique<StartCalibrationMessage>(-5, 300));
    msgs.push_back(std::make_unique<TextMessage>("QV_r2\n001.083\nNov 11 2019"));
    auto frag = std::make_unique<DataFragmentMessage>();
    frag->setOffset(8);
    frag->setLength(3);
    frag->setData(Block(new unsigned char[3]{1, 2, 3}));
    msgs.push_back(std::move(frag));
    for (auto& m : msgs) {
        Block b = m->serialize();
        const std::uint16_t word = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        const std::uint16_t n = static_cast<std::uint16_t>(b[2] | (b[3] << 8));
        ASSERT_EQ(n, m->payloadSize());
        auto back = createMessage(word, b.get() + 4, n);
        ASSERT_TRUE(back) << m->type();
        Block again = back->serialize();
        EXPECT_EQ(std::vector<unsigned char>(b.get(), b.get() + m->frameSize()),
                  std::vector<unsigned char>(again.get(), again.get() + back->frameSize()));
    }
}

// Random payloads of every type id: nothing may read outside the payload. The
// payload is copied into an exactly sized heap block so AddressSanitizer sees
// any overrun.
TEST(message_factory, random_payloads_on_every_type_never_misbehave) {
    std::mt19937 rng(7);
    for (int id = 0; id < 0x8000; ++id) {
        const int rounds = kCatalogue.count(id) ? 200 : 1;
        for (int r = 0; r < rounds; ++r) {
            const size_t n = rng() % 1017;
            std::unique_ptr<unsigned char[]> p(new unsigned char[n ? n : 1]);
            for (size_t i = 0; i < n; ++i)
                p[i] = static_cast<unsigned char>(rng() % 4 == 0 ? 0 : rng());
            if (n >= 2 && rng() % 2) { // often make the inner length fit, to reach deeper
                const size_t inner = id == 192 ? (n >= 6 ? n - 6 : 0) : n - 2;
                p[id == 192 && n >= 6 ? 4 : 0] = static_cast<unsigned char>(inner & 0xFF);
                p[id == 192 && n >= 6 ? 5 : 1] = static_cast<unsigned char>(inner >> 8);
            }
            auto m = createMessage(static_cast<std::uint16_t>(id | ((r & 1) << 15)), p.get(), static_cast<std::uint16_t>(n));
            if (m) {
                Block b = m->serialize();
                ASSERT_EQ(m->type(), id);
                if (auto* s = dynamic_cast<SettingsMessage*>(m.get())) {
                    ASSERT_LE(std::strlen(s->text()), n);
                }
            }
        }
    }
}

TEST(messages, payloads_that_do_not_fit_a_frame_are_refused_not_cut) {
    using namespace sorka::kbt::messages;
    SettingsMessage settings;
    EXPECT_THROW(settings.setText(std::string(65535, 'a').c_str()), std::length_error);
    EXPECT_NO_THROW(settings.setText(std::string(65534, 'a').c_str()));
    EXPECT_EQ(settings.payloadSize(), 65535);
    EXPECT_THROW(TextMessage(std::string(65534, 't').c_str()), std::length_error);
    EXPECT_THROW(ExtendedIdInfoMessage(1, std::string(65526, 'e').c_str(), "", ""), std::length_error);
    DataFragmentMessage fragment;
    EXPECT_THROW(fragment.setLength(65530), std::length_error);
    EXPECT_NO_THROW(fragment.setLength(65529));
    EXPECT_EQ(fragment.payloadSize(), 65535);
}

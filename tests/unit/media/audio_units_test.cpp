// Audio wrappers through the facade.
#include "media/codec.h"
#include "media_test_util.h"
#include <gtest/gtest.h>

namespace hdext::test {
namespace {

using AudioInput = MediaTest;

TEST_F(AudioInput, Capture48kGives557SampleFramesResampledTo44k1) {
    codec->AI_Create(0, 0);
    codec->AI_SetAudio(0, 0, 48000, 1, 19);
    ASSERT_EQ(codec->AI_Start(0, 0), 0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_ai_set_pub_attr", "ss_mpi_ai_enable",
                                    "ss_mpi_ai_enable_chn", "ss_mpi_ai_enable_resample"}));
    const auto a = rec().find("ss_mpi_ai_set_pub_attr").as<ot_aio_attr>();
    EXPECT_EQ(a.sample_rate, 48000);
    EXPECT_EQ(a.bit_width, 1);
    EXPECT_EQ(a.work_mode, 1);
    EXPECT_EQ(a.snd_mode, 0);
    EXPECT_EQ(a.expand_flag, 1u);
    EXPECT_EQ(a.frame_num, 30u);
    EXPECT_EQ(a.point_num_per_frame, 557u);
    EXPECT_EQ(a.chn_cnt, 1u);
    EXPECT_EQ(a.clk_share, 0u);
    EXPECT_EQ(a.i2s_type, 2u);
    EXPECT_EQ(rec().find("ss_mpi_ai_enable_resample").args, (std::vector<long long>{0, 0, 44100}));
    rec().reset();
    codec->AI_Stop(0, 0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_ai_disable_resample", "ss_mpi_ai_disable_chn", "ss_mpi_ai_disable"}));
    rec().reset();
    codec->AI_Stop(0, 0); // the resample mark was cleared
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_ai_disable_chn", "ss_mpi_ai_disable"}));
}

TEST_F(AudioInput, Capture44k1Gives512SamplesWithoutResampling) {
    codec->AI_Create(1, 0);
    codec->AI_SetAudio(1, 0, 44100, 1, 19);
    codec->AI_Start(1, 0);
    EXPECT_EQ(rec().find("ss_mpi_ai_set_pub_attr").as<ot_aio_attr>().point_num_per_frame, 512u);
    EXPECT_EQ(rec().count("ss_mpi_ai_enable_resample"), 0);
    rec().reset();
    codec->AI_SetAudio(1, 0, 32000, 1, 19);
    codec->AI_Start(1, 0);
    EXPECT_EQ(rec().find("ss_mpi_ai_set_pub_attr").as<ot_aio_attr>().point_num_per_frame,
              32000u * 512u / 44100u);
    rec().reset();
    codec->AI_SetAudio(1, 0, 48000, 1, 37);
    codec->AI_Start(1, 0);
    EXPECT_EQ(rec().find("ss_mpi_ai_set_pub_attr").as<ot_aio_attr>().point_num_per_frame, 1024u);
}

TEST_F(AudioInput, StartFailuresNameTheStep) {
    codec->AI_Create(0, 0);
    rec().results["ss_mpi_ai_enable_chn"] = 0x33;
    const std::string out = printed([&] { EXPECT_EQ(codec->AI_Start(0, 0), 0x33); });
    EXPECT_EQ(out, "AI_Start: ss_mpi_ai_enable_chn(0,0) failed with 0x33\n");
    EXPECT_EQ(rec().count("ss_mpi_ai_enable_resample"), 0);
    rec().reset();
    rec().results["ss_mpi_ai_disable_chn"] = 0x34;
    const std::string stop = printed([&] { EXPECT_EQ(codec->AI_Stop(0, 0), 0x34); });
    EXPECT_NE(stop.find("[func]:AI_Stop [line]:"), std::string::npos);
    EXPECT_NE(stop.find(" [info]:failed\n"), std::string::npos);
}

TEST_F(AudioInput, FramesDepthAndBindings) {
    codec->AI_Create(1, 0);
    ot_audio_frame f{};
    ASSERT_EQ(codec->AI_GetFrame(1, 0, &f), 0);
    EXPECT_EQ(rec().find("ss_mpi_ai_get_frame").args, (std::vector<long long>{1, 0, 1, -1}));
    codec->AI_ReleaseFrame(1, 0, &f);
    rec().results["ss_mpi_ai_get_frame"] = 0xa015800e;
    const std::string out = printed([&] { EXPECT_EQ(codec->AI_GetFrame(1, 0, &f), -1); });
    EXPECT_EQ(out, "ss_mpi_ai_get_frame fail , reason = a015800e");

    rec().reset();
    rec().plant(ot_ai_chn_param{5});
    codec->AI_SetDepth(1, 0, 9);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_ai_get_chn_param", "ss_mpi_ai_set_chn_param"}));
    EXPECT_EQ(rec().find("ss_mpi_ai_set_chn_param").as<ot_ai_chn_param>().usr_frame_depth, 9u);

    rec().reset();
    codec->AI_BindAENC(1, 0, 4);
    codec->AI_BindAO(1, 0, 1, 2);
    codec->AI_UnBindAO(1, 0, 1, 2);
    EXPECT_EQ(rec().find("ss_mpi_sys_bind", 0).args, (std::vector<long long>{21, 1, 0, 23, 0, 4}));
    EXPECT_EQ(rec().find("ss_mpi_sys_bind", 1).args, (std::vector<long long>{21, 1, 0, 22, 1, 2}));
    EXPECT_EQ(rec().find("ss_mpi_sys_unbind").args, (std::vector<long long>{21, 1, 0, 22, 1, 2}));
    EXPECT_EQ(codec->AI_GetSoundmode(1, 0), 0);
    EXPECT_EQ(codec->AI_GetBitWidth(1, 0), 1);
}

using AudioOutput = MediaTest;

TEST_F(AudioOutput, DeviceRateOtherThan44k1ResamplesFromIt) {
    codec->AO_Create(1, 0);
    codec->AO_SetAudio(1, 0, 32000, 48000, 1, 19);
    ASSERT_EQ(codec->AO_Start(1, 0), 0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_ao_set_pub_attr", "ss_mpi_ao_enable",
                                    "ss_mpi_ao_enable_chn", "ss_mpi_ao_enable_resample"}));
    const auto a = rec().find("ss_mpi_ao_set_pub_attr").as<ot_aio_attr>();
    EXPECT_EQ(a.sample_rate, 48000);
    EXPECT_EQ(a.work_mode, 0);
    EXPECT_EQ(a.point_num_per_frame, 512u);
    EXPECT_EQ(a.frame_num, 30u);
    EXPECT_EQ(a.i2s_type, 1u); // device 1
    EXPECT_EQ(rec().find("ss_mpi_ao_enable_resample").args, (std::vector<long long>{1, 0, 44100}));
    rec().reset();
    codec->AO_Stop(1, 0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_ao_disable_resample", "ss_mpi_ao_disable_chn", "ss_mpi_ao_disable"}));
}

TEST_F(AudioOutput, Device44k1NeedsNoResamplingAndStopSkipsIt) {
    codec->AO_Create(0, 0);
    codec->AO_SetAudio(0, 0, 44100, 44100, 1, 19);
    codec->AO_Start(0, 0);
    EXPECT_EQ(rec().count("ss_mpi_ao_enable_resample"), 0);
    EXPECT_EQ(rec().find("ss_mpi_ao_set_pub_attr").as<ot_aio_attr>().i2s_type, 2u); // device 0
    rec().reset();
    codec->AO_Stop(0, 0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_ao_disable_chn", "ss_mpi_ao_disable"}));
}

TEST_F(AudioOutput, FailuresReturnMinusOneWithTheMessage) {
    codec->AO_Create(1, 0);
    rec().results["ss_mpi_ao_enable"] = 0x21;
    const std::string out = printed([&] { EXPECT_EQ(codec->AO_Start(1, 0), -1); });
    EXPECT_EQ(out, "AO_Start: ss_mpi_ao_enable(1) failed with 0x21!\n");
}

using AudioCodecs = MediaTest;

TEST_F(AudioCodecs, EncoderChannelAttributesByPayload) {
    codec->AENC_Create(0);
    ASSERT_EQ(codec->AENC_Start(0), 0);
    const auto a = rec().find("ss_mpi_aenc_create_chn").as<ot_aenc_chn_attr>();
    EXPECT_EQ(a.type, 19);
    EXPECT_EQ(a.point_num_per_frame, 480u);
    EXPECT_EQ(a.buf_size, 30u);
    rec().reset();
    codec->AENC_SetAudio(0, 37);
    codec->AENC_Start(0);
    EXPECT_EQ(rec().find("ss_mpi_aenc_create_chn").as<ot_aenc_chn_attr>().point_num_per_frame,
              1024u);
    rec().reset();
    codec->AENC_SetAudio(0, 99);
    const std::string out = printed([&] { EXPECT_EQ(codec->AENC_Start(0), -1); });
    EXPECT_EQ(out, "AENC_Start: invalid aenc payload type:99\n");
    EXPECT_TRUE(rec().calls.empty());
}

TEST_F(AudioCodecs, DecoderChannelSendAndBind) {
    codec->ADEC_Create(2);
    ASSERT_EQ(codec->ADEC_Start(2), 0);
    EXPECT_EQ(rec().find("ss_mpi_adec_create_chn").as<ot_adec_chn_attr>().buf_size, 20u);
    uint8_t data[8] = {};
    ASSERT_EQ(codec->ADEC_SendStream(2, data, 8), 0);
    EXPECT_EQ(rec().find("ss_mpi_adec_send_stream").args, (std::vector<long long>{2, 1}));
    EXPECT_EQ(rec().find("ss_mpi_adec_send_stream").as<ot_audio_stream>().len, 8u);
    codec->ADEC_BindAO(2, 1, 0);
    EXPECT_EQ(rec().find("ss_mpi_sys_bind").args, (std::vector<long long>{24, 0, 2, 22, 1, 0}));
    rec().results["ss_mpi_adec_send_stream"] = 0x9;
    const std::string out = printed([&] { EXPECT_EQ(codec->ADEC_SendStream(2, data, 8), -1); });
    EXPECT_EQ(out, "ADEC_SendStream: ss_mpi_adec_send_stream(2) failed with 0x9!\n");
    codec->ADEC_SetAudio(2, 55);
    const std::string bad = printed([&] { EXPECT_EQ(codec->ADEC_Start(2), -1); });
    EXPECT_EQ(bad, "ADEC_Start: invalid aenc payload type:55\n");
}

} // namespace
} // namespace hdext::test

// Video output (device, layer, channel) and video input (MIPI receiver, device, channel).
#include "media/media_log.h"
#include "media/video_units.h"
#include "mpi/mpi.h"
#include <cstdio>
#include <cstring>

struct VoRecord {
    int dev, chn, layer;
    int intf_type;
    int sync;
    uint32_t bg_color;
    int frame_rate;
    int pixel_format;
    int x, y;
    int img_w, img_h;
    int disp_w, disp_h;
    int further[4];
    int recv_threshold;
};

CVO::CVO() : m_rec(new VoRecord{}) {
    m_rec->intf_type = 24;
    m_rec->sync = 23;
    m_rec->frame_rate = 60;
    m_rec->pixel_format = OT_PIXEL_FORMAT_YVU_SEMIPLANAR_420;
    m_rec->further[2] = 3;
    m_rec->recv_threshold = 2;
}

CVO::~CVO() {
    delete m_rec;
}

int CVO::VO_init(int dev, int chn, int layer) {
    m_rec->dev = dev;
    m_rec->chn = chn;
    m_rec->layer = layer;
    return 0;
}

int CVO::VO_set_resolution(int sync, int intf, int rate, int w, int h) {
    m_rec->intf_type = intf;
    m_rec->sync = sync;
    m_rec->frame_rate = rate;
    m_rec->img_w = m_rec->disp_w = w;
    m_rec->img_h = m_rec->disp_h = h;
    return 0;
}

int CVO::VO_StartDev() {
    ot_vo_pub_attr pub{};
    pub.bg_color = m_rec->bg_color;
    pub.intf_type = m_rec->intf_type;
    pub.intf_sync = m_rec->sync;
    int ret = ss_mpi_vo_set_pub_attr(m_rec->dev, &pub);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_set_pub_attr(%d) failed with %#x!\n", m_rec->dev, ret);
        return ret;
    }
    ret = ss_mpi_vo_enable(m_rec->dev);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_enable(%d) failed with %#x!\n", m_rec->dev, ret);
        return ret;
    }
    return 0;
}

int CVO::VO_StartLayer() {
    ot_vo_video_layer_attr la{};
    la.display_rect = {0, 0, static_cast<uint32_t>(m_rec->img_w),
                       static_cast<uint32_t>(m_rec->img_h)};
    la.img_width = static_cast<uint32_t>(m_rec->img_w);
    la.img_height = static_cast<uint32_t>(m_rec->img_h);
    la.display_frame_rate = static_cast<uint32_t>(m_rec->frame_rate);
    la.pixel_format = m_rec->pixel_format;
    for (int i = 0; i < 4; ++i)
        la.extra[2 + i] = m_rec->further[i];
    int ret = ss_mpi_vo_set_video_layer_attr(m_rec->layer, &la);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_set_video_layer_attr(%d) failed with %#x!\n", m_rec->layer, ret);
        return ret;
    }
    ret = ss_mpi_vo_set_video_layer_early_display(m_rec->layer, 1);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_set_video_layer_early_display(%d) failed with %#x!\n", m_rec->layer,
                    ret);
        return ret;
    }
    ret = ss_mpi_vo_enable_video_layer(m_rec->layer);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_enable_video_layer(%d) failed with %#x!\n", m_rec->layer, ret);
        return ret;
    }
    return 0;
}

int CVO::VO_StartChn() {
    ot_vo_video_layer_attr la{};
    int ret = ss_mpi_vo_get_video_layer_attr(m_rec->layer, &la);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_get_video_layer_attr(%d) failed with %#x!\n", m_rec->layer, ret);
        return ret;
    }
    ot_vo_chn_attr ca{};
    ca.priority = 0;
    ca.rect = {0, 0, la.img_width, la.img_height};
    ca.deflicker_en = 0;
    ret = ss_mpi_vo_set_chn_attr(m_rec->layer, m_rec->chn, &ca);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_set_chn_attr(%d) failed with %#x!\n", m_rec->chn, ret);
        return ret;
    }
    ret = ss_mpi_vo_enable_chn(m_rec->layer, m_rec->chn);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_enable_chn(%d) failed with %#x!\n", m_rec->chn, ret);
        return ret;
    }
    ret = ss_mpi_vo_set_chn_recv_threshold(m_rec->layer, m_rec->chn,
                                           static_cast<uint32_t>(m_rec->recv_threshold));
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_set_chn_recv_threshold(%d) failed with %#x!\n", m_rec->chn, ret);
        return ret;
    }
    ret = ss_mpi_vo_clear_chn_buf(m_rec->layer, m_rec->chn, 1);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_clear_chn_buf(%d) failed with %#x!\n", m_rec->chn, ret);
        return ret;
    }
    return 0;
}

int CVO::VO_StopChn() {
    int ret = ss_mpi_vo_clear_chn_buf(m_rec->layer, m_rec->chn, 1);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_clear_chn_buf failed with errno %#x!\n", ret);
        return ret;
    }
    ret = ss_mpi_vo_disable_chn(m_rec->layer, m_rec->chn);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Disable channel failed with errno %#x!\n", ret);
        return ret;
    }
    return 0;
}

int CVO::VO_StopLayer() {
    const int ret = ss_mpi_vo_disable_video_layer(m_rec->layer);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_disable_video_layer(%d) failed with %#x!\n", m_rec->layer, ret);
    }
    return ret;
}

int CVO::VO_StopDev() {
    const int ret = ss_mpi_vo_disable(m_rec->dev);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("ss_mpi_vo_disable(%d) failed with %#x!\n", m_rec->dev, ret);
    }
    return ret;
}

// ---------------------------------------------------------------------------------------------

struct ViRecord {
    int dev, chn;
    int width, height;
    int x, y;
    int intf_mode;
    int work_mode;
    int dev_further[3];
    int src_rate, dst_rate;
    int value0;
    int depth;
    int data_mode;
    int pixel_format;
    int value_a, value_b;
    int mipi_dev;
    int mipi_hs_mode;
    int16_t lanes[4];
};

CVI::CVI() : m_rec(new ViRecord{}) {
    m_rec->intf_mode = 3;
    m_rec->src_rate = m_rec->dst_rate = 60;
    m_rec->depth = 2;
    m_rec->data_mode = 1;
    m_rec->pixel_format = OT_PIXEL_FORMAT_YVU_SEMIPLANAR_420;
    m_rec->lanes[2] = m_rec->lanes[3] = -1;
}

CVI::~CVI() {
    delete m_rec;
}

int CVI::VI_init(int dev, int chn) {
    m_rec->dev = dev;
    m_rec->chn = chn;
    m_rec->mipi_dev = dev;
    m_rec->lanes[0] = static_cast<int16_t>(4 * dev);
    m_rec->lanes[1] = static_cast<int16_t>(4 * dev + 1);
    m_rec->lanes[2] = m_rec->lanes[3] = -1;
    return 0;
}

int CVI::VI_set_intf_mode(int mode, int scan) {
    m_rec->intf_mode = mode;
    m_rec->data_mode = scan;
    return 0;
}

int CVI::VI_set_resolution(int rate, int w, int h) {
    m_rec->width = w;
    m_rec->height = h;
    m_rec->src_rate = m_rec->dst_rate = rate;
    return 0;
}

int CVI::VI_set_mipi_attr(ot_mipi_dev_attr* attr) {
    std::memset(attr, 0, sizeof(*attr));
    attr->devno = m_rec->mipi_dev;
    attr->input_data_type = 0;
    attr->x = m_rec->x;
    attr->y = m_rec->y;
    attr->width = m_rec->width;
    attr->height = m_rec->height;
    attr->data_mode = m_rec->data_mode;
    attr->reserved = 0;
    for (int i = 0; i < 4; ++i)
        attr->lane_id[i] = m_rec->lanes[i];
    return 0;
}

int CVI::VI_Start_mipi() {
    if (m_rec->dev == 0)
        return 0; // device 0 is not behind the MIPI receiver
    const int fd = ss_mpi_mipi_open(OT_MIPI_DEV_NAME);
    if (fd < 0) {
        MEDIA_AT();
        std::printf("open ot_mipi dev failed\n");
        return -1;
    }
    const int devno = m_rec->mipi_dev;
    const int hs = m_rec->mipi_hs_mode;
    int ret = ss_mpi_mipi_ioctl(fd, OT_MIPI_SET_HS_MODE, &hs);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("OT_MIPI_SET_HS_MODE failed\n");
    } else if ((ret = ss_mpi_mipi_ioctl(fd, OT_MIPI_ENABLE_MIPI_CLOCK, &devno)) != 0) {
        MEDIA_AT();
        std::printf("OT_MIPI_ENABLE_MIPI_CLOCK failed\n");
    } else if ((ret = ss_mpi_mipi_ioctl(fd, OT_MIPI_RESET_MIPI, &devno)) != 0) {
        MEDIA_AT();
        std::printf("OT_MIPI_RESET_MIPI failed\n");
    } else {
        ot_mipi_dev_attr attr;
        VI_set_mipi_attr(&attr);
        if ((ret = ss_mpi_mipi_ioctl(fd, OT_MIPI_SET_DEV_ATTR, &attr)) != 0) {
            MEDIA_AT();
            std::printf("OT_MIPI_SET_DEV_ATTR failed\n");
            MEDIA_AT();
            std::printf("vi set mipi attr failed\n");
        } else if ((ret = ss_mpi_mipi_ioctl(fd, OT_MIPI_UNRESET_MIPI, &devno)) != 0) {
            MEDIA_AT();
            std::printf("OT_MIPI_UNRESET_MIPI failed\n");
        }
    }
    ss_mpi_mipi_close(fd);
    return ret;
}

int CVI::VI_StartDev() {
    // Template 3, 0, 0xFF000000, 0, 0, 5, 0, 0, 0, 0, 1, then twelve 0s.
    ot_vi_dev_attr a{};
    a.component_mask[0] = 0xFF000000u;
    a.data_seq = 5;
    a.input_data_type = 1;
    a.intf_mode = static_cast<uint32_t>(m_rec->intf_mode);
    a.work_mode = static_cast<uint32_t>(m_rec->work_mode);
    a.scan_mode = static_cast<uint32_t>(m_rec->dev_further[0]);
    a.data_rate = static_cast<uint32_t>(m_rec->dev_further[1]);
    a.reserved = static_cast<uint32_t>(m_rec->dev_further[2]);
    if (m_rec->intf_mode == 1 || m_rec->intf_mode == 3) {
        a.component_mask[0] = 0xFF0;
        a.component_mask[1] = 0xFF000;
        a.data_seq = 1;
    } else if (m_rec->intf_mode == 0) {
        a.component_mask[0] = (m_rec->dev & 1) ? 0xFF000 : 0xFF0;
        a.data_seq = 2;
    }
    int ret = ss_mpi_vi_set_dev_attr(m_rec->dev, &a);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Set dev(%d) attributes failed with error code %#x!\n", m_rec->dev, ret);
        return ret;
    }
    ret = ss_mpi_vi_enable_dev(m_rec->dev);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Enable dev failed with error code %#x!\n", ret);
        return ret;
    }
    return 0;
}

int CVI::VI_StartChn() {
    ot_vi_chn_attr a{};
    a.x = m_rec->x;
    a.y = m_rec->y;
    a.width = a.out_width = m_rec->width;
    a.height = a.out_height = m_rec->height;
    a.depth = m_rec->depth;
    a.data_mode = m_rec->data_mode;
    a.pixel_format = m_rec->pixel_format;
    a.src_frame_rate = m_rec->src_rate;
    a.dst_frame_rate = m_rec->dst_rate;
    int ret = ss_mpi_vi_set_chn_attr(m_rec->dev, m_rec->chn, &a);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Set chn(%d) attributes failed with error code %#x!\n", m_rec->chn, ret);
        return ret;
    }
    ret = ss_mpi_vi_enable_chn(m_rec->dev, m_rec->chn);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Enable chn failed with error code %#x!\n", ret);
        return ret;
    }
    ret = ss_mpi_vi_get_chn_attr(m_rec->dev, m_rec->chn, &a);
    if (ret == 0) {
        a.src_frame_rate = m_rec->src_rate;
        a.dst_frame_rate = m_rec->dst_rate;
        ret = ss_mpi_vi_set_chn_attr(m_rec->dev, m_rec->chn, &a);
    }
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Set chn(%d) attributes failed with error code %#x!\n", m_rec->chn, ret);
        return ret;
    }
    return 0;
}

int CVI::VI_StopChn() {
    const int ret = ss_mpi_vi_disable_chn(m_rec->dev, m_rec->chn);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Disable chn failed with error code %#x!\n", ret);
    }
    return ret;
}

int CVI::VI_StopDev() {
    const int ret = ss_mpi_vi_disable_dev(m_rec->dev);
    if (ret != 0) {
        MEDIA_AT();
        std::printf("Disable dev failed with error code %#x!\n", ret);
    }
    return ret;
}

#include "ContinuousStamps.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

void ContinuousStamps::Restart(int segment) {
    m_segment = segment;
    m_expectedPts = AV_NOPTS_VALUE;
}

void ContinuousStamps::Apply(AVPacket* pkt) {
    if (!m_timeline.HasRestarts()) {
        return;
    }
    int segment = m_segment;
    const int count = static_cast<int>(m_timeline.Segments().size());
    if (pkt->pos >= 0) {
        segment = m_timeline.SegmentAt(pkt->pos);
    } else if (m_expectedPts != AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE &&
               segment + 1 < count &&
               MediaTimeline::IsRestart(m_expectedPts, pkt->pts, m_timeline.TimeBaseNum(),
                                        m_timeline.TimeBaseDen())) {
        ++segment;  // a frame split off a packet: where it lies shows in its time alone
    }
    if (pkt->pts != AV_NOPTS_VALUE) {
        m_expectedPts = pkt->pts + pkt->duration;
    }
    m_segment = segment;
    const int64_t offset = m_timeline.Offset(segment);
    if (pkt->pts != AV_NOPTS_VALUE) {
        pkt->pts += offset;
    }
    if (pkt->dts != AV_NOPTS_VALUE) {
        pkt->dts += offset;
    }
}

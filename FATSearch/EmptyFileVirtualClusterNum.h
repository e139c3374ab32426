// Made-up first clusters for files of size 0. Such files own no cluster,
// and many of them share the entry value 0; node ids are first clusters, so
// each empty file takes the next value of a process-wide counter that starts
// above every real cluster number (real clusters are below 2^32).
#pragma once

class CEmptyFileVirtualClusterNum {
public:
    static constexpr unsigned long long kFirstVirtualCluster = 0x100000000ULL;

    // The counter's current value; it then moves on by one.
    unsigned long long GetVirtualClusterNum() { return m_u64Next++; }
    // Back to 0x100000000; every directory build starts with this.
    void ResetVirtualClusterNum() { m_u64Next = kFirstVirtualCluster; }

private:
    unsigned long long m_u64Next = kFirstVirtualCluster;
};

// The one counter of the process, made on first use. FAT builds run one at a
// time on the scan thread, so it takes no lock.
CEmptyFileVirtualClusterNum& GetEmptyFileVirtualClusterNumObject();

#pragma once

#include <QObject>
#include <QStringList>

// The module simulator driven through its pty exactly as the tool would
// drive a real module. Slots are spread over several source files by topic.
class TestModuleSim : public QObject
{
    Q_OBJECT

private slots:
    // tst_module_sim.cpp: commands and their replies
    void reference_checks_match_known_values();
    void answers_each_command_data();
    void answers_each_command();
    void values_come_from_options();
    void tolerates_missing_cr_and_empty_lines();
    void survives_the_port_being_closed_and_reopened();

    // tst_sim_faults.cpp: misbehaving command interpreter
    void late_reply_keeps_its_delay();
    void reply_comes_in_bursts();
    void reply_shapes_data();
    void reply_shapes();
    void no_reply_only_to_one_command_for_the_first_times();
    void unplug_after_part_of_a_reply();

    // tst_sim_transfer.cpp: download command and XMODEM receiver
    void download_in_crc_mode_saves_the_image();
    void download_in_checksum_mode_with_small_frames();
    void soh_frames_of_256_bytes();
    void acknowledgement_variants_data();
    void acknowledgement_variants();
    void request_repeats_up_to_its_limit();
    void bad_frames_are_naked_and_repeats_not_stored();
    void frame_split_into_chunks_is_assembled();
    void stalled_frame_is_dropped_and_naked();
    void nak_fault_on_first_sends_of_a_block();
    void cancel_after_a_block_data();
    void cancel_after_a_block();
    void silent_from_a_block();
    void eot_replies_data();
    void eot_replies();
    void unplug_in_the_middle_of_a_transfer();
    void command_instead_of_frame_ends_the_transfer();

    // tst_sim_platform.cpp: process, links, device tree, pacing
    void stops_cleanly_on_sigterm_without_stdin();
    void quiet_logs_nothing();
    void rejects_bad_options();
    void help_documents_every_option();
    void link_points_at_the_pty_until_exit();
    void device_tree_layout_data();
    void device_tree_layout();
    void device_tree_refuses_a_second_device();
    void pacing_limits_both_directions();
};

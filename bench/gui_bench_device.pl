#!/usr/bin/perl
# SPDX-License-Identifier: MIT
# The smallest device that bench/gui_transfer_bench.sh needs: a web server at 127.0.0.2:80
# with the status page and the upgrade request, and curl as its TFTP client. For each upgrade
# request it times curl fetching the named file from the utility and the same client fetching
# the same image from tftpd-hpa, checks both downloads byte for byte, and appends one line to
# RESULTS: "run N ours SECONDS hpa SECONDS" (or "run N error WHAT").
#
# With NOTIFY_FIFO it also writes "run N" there once the line is in RESULTS.
#
#   gui_bench_device.pl IMAGE HPA_URL RESULTS [NOTIFY_FIFO]
use strict;
use warnings;
use IO::Socket::INET;

my ($image, $hpa_url, $results, $notify) = @ARGV;
die "usage: gui_bench_device.pl IMAGE HPA_URL RESULTS [NOTIFY_FIFO]\n" unless defined $results;

open my $fh, '<:raw', $image or die "$image: $!\n";
my $bytes = do { local $/; <$fh> };
close $fh;
# The version text sits in the header at 0x5c. The device reports it before and after, so that
# the utility's final check passes whatever the run.
my $version = substr($bytes, 0x5c, 128 - 0x5c);
$version =~ s/\0.*//s;

my $server = IO::Socket::INET->new(
    LocalAddr => '127.0.0.2', LocalPort => 80, Listen => 8, ReuseAddr => 1, Proto => 'tcp')
    or die "cannot listen on 127.0.0.2:80: $!\n";
$SIG{CHLD} = 'IGNORE';
$| = 1;
print "ready\n";

my $run = 0;

sub answer {
    my ($c, $code, $body) = @_;
    print $c "HTTP/1.1 $code\r\nContent-Type: text/html\r\nContent-Length: " . length($body)
      . "\r\nConnection: close\r\n\r\n$body";
}

sub status_page {
    my $row = sub { "<tr><td>$_[0]</td><td>$_[1]</td></tr>\r\n" };
    return "<html><head><title>ZOQ Device Status</title></head><body>\r\n<table>\r\n"
      . $row->('Product Name:', 'ZOQ-4502') . $row->('MAC Address:', '02:00:00:AA:BB:CC')
      . $row->('Software Version:', $version) . $row->('Hardware Version:', '1.0.2')
      . $row->('Serial Number:', 'ZQ45020001') . "</table>\r\n</body></html>\r\n";
}

# curl's own clock of one download, without its process start; undef if it failed or the
# bytes differ from the image.
sub fetch {
    my ($url, $out) = @_;
    open my $p, '-|', 'curl', '-sS', '-m', '60', '--interface', '127.0.0.2', '-o', $out, '-w',
      '%{time_total}', $url or return undef;
    my $t = <$p>;
    close $p or return undef;
    open my $in, '<:raw', $out or return undef;
    my $got = do { local $/; <$in> };
    close $in;
    unlink $out;
    return (defined $got && $got eq $bytes) ? $t : undef;
}

sub measure {
    my ($n, $ours_url) = @_;
    my $out = "$results.$n.download";
    my ($ours, $hpa);
    # The utility first, then tftpd-hpa once the utility has settled into its restart wait
    # (well under 1 % of a core). Taking turns would time tftpd-hpa, every other run, beside the
    # utility's busiest moments: its waiting dialog's activity bar, or its switch of dialogs.
    $ours = fetch($ours_url, $out);
    select(undef, undef, undef, 0.5);
    $hpa = fetch($hpa_url, $out);
    open my $r, '>>', $results or die "$results: $!\n";
    if (defined $ours && defined $hpa) {
        print $r "run $n ours $ours hpa $hpa\n";
    } else {
        printf $r "run %d error %s\n", $n, defined $ours ? 'tftpd-hpa download' : 'utility download';
    }
    close $r;
    # The bench blocks on this pipe instead of polling for the line beside the transfers.
    if (defined $notify && open my $fifo, '>>', $notify) {
        print $fifo "run $n\n";
        close $fifo;
    }
}

while (my $c = $server->accept) {
    my $request = '';
    eval {
        local $SIG{ALRM} = sub { die "timeout\n" };
        alarm 5;
        while ($request !~ /\r\n\r\n/ && length($request) < 65536) {
            my $n = sysread($c, my $chunk, 4096);
            last unless $n;
            $request .= $chunk;
        }
        alarm 0;
    };
    my ($target) = $request =~ m{^GET (\S+) HTTP/1\.[01]\r\n};
    $target //= '';
    if ($target eq '/admin/advanced') {
        answer($c, '200 OK', status_page());
    } elsif ($target =~ m{^/admin/upgrade\?tftp://(\d+\.\d+\.\d+\.\d+):(\d+)(/\S+)$}) {
        my $url = "tftp://$1:$2/$3";  # "//name": curl keeps the leading slash of the name
        answer($c, '200 OK', "<html><body>Upgrading</body></html>");
        shutdown($c, 1);
        close $c;
        $run++;
        if (fork() == 0) {
            close $server;
            $SIG{CHLD} = 'DEFAULT';  # curl's exit status is wanted here
            measure($run, $url);
            exit 0;
        }
        next;
    } else {
        answer($c, '404 Not Found', "<html>404 Not Found</html>");
    }
    shutdown($c, 1);
    close $c;
}

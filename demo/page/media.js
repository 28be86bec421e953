// Media viewers: video playback window, picture viewer, alarm tip, sound.
// The demo host hands its sample files over as window.TaviDemoMedia.
(function () {
    'use strict';

    var samples = window.TaviDemoMedia || {};

    Demo.section({
        id: 'media',
        title: 'Media viewers',
        text: 'playVideo() opens the playback window (the stream SDK plays the file into it); ' +
              'showPicture() and showAlarmTip() are modal and resolve when closed; ' +
              'playSound() plays once on the default audio output.',
        build: function (el, tavi) {
            var field = function (value, placeholder) {
                return Demo.el('input', { value: value || '', placeholder: placeholder });
            };
            var video = field(samples.video, 'video file path');
            var picture = field(samples.picture, 'picture file path');
            var sound = field(samples.sound, 'sound file path');
            var alarm = field('Camera 03, loading bay: motion in zone 3', 'alarm message');
            var out = this.out = Demo.out();
            var show = function (label, promise) {
                Demo.run(label, promise).then(function (r) { out.textContent = label + ' → ' + r; });
            };
            el.append(
                Demo.row([video, Demo.button('Play video', function () { show('playVideo', tavi.playVideo(video.value)); })]),
                Demo.row([picture, Demo.button('Show picture', function () { show('showPicture', tavi.showPicture(picture.value)); })]),
                Demo.row([sound, Demo.button('Play sound', function () { show('playSound', tavi.playSound(sound.value)); })]),
                Demo.row([alarm, Demo.button('Alarm tip', function () { show('showAlarmTip', tavi.showAlarmTip(alarm.value)); })]),
                Demo.row([Demo.button('Missing picture', function () {
                    show('showPicture', tavi.showPicture(samples.missingPicture || '/nonexistent/snapshot.png'));
                }, 'secondary')]),
                out);
        },
        tour: async function (tavi) {
            if (!samples.video) {
                Demo.log('media: the host offers no sample files; enter your own paths', 'err');
                return;
            }
            await Demo.run('playSound(' + samples.sound + ')', tavi.playSound(samples.sound));
            await Demo.run('playVideo(' + samples.video + ')', tavi.playVideo(samples.video));
            await Demo.sleep(4000);
            // Modal viewers wait for a person; only a host that closes them
            // itself (the headless run) gets them in the tour.
            if (!samples.autoClose) {
                Demo.log('media: open the picture viewer and the alarm tip with the buttons');
                return;
            }
            await Demo.run('showPicture(' + samples.picture + ')', tavi.showPicture(samples.picture));
            await Demo.run('showPicture(' + samples.missingPicture + ')', tavi.showPicture(samples.missingPicture));
            var later = await Demo.run('showAlarmTip(…)', tavi.showAlarmTip('Camera 03, loading bay: motion in zone 3'));
            this.out.textContent = 'alarm tip: ' + (later ? 'Prompt later' : 'Close prompt');
        },
    });
})();

// Media viewers: video playback window, picture viewer, alarm tip, sound.
// The demo host hands its sample files over as window.TaviDemoMedia.
(function () {
    'use strict';

    var samples = window.TaviDemoMedia || {};

    function field(value, placeholder) {
        return Demo.el('input', { value: value || '', placeholder: placeholder });
    }

    function run(out, method, args) {
        Demo.log(method + '(' + args.map(JSON.stringify).join(', ') + ')', 'call');
        return Demo.call.apply(Demo, [method].concat(args)).then(function (result) {
            var none = result === undefined || result === null;
            var text = method + ' returned' + (none ? '' : ' ' + JSON.stringify(result));
            out.textContent = text;
            Demo.log(text, 'call');
            return result;
        });
    }

    Demo.section({
        id: 'media',
        title: 'Media viewers',
        text: 'PlayVideoFile opens the playback window (the stream SDK plays the file into it); ' +
              'ShowPicture and ShowDevAlarmTips are modal and return when closed; ' +
              'PlaySoundFile plays once on the default audio output.',
        build: function (el) {
            var video = field(samples.video, 'video file path');
            var picture = field(samples.picture, 'picture file path');
            var sound = field(samples.sound, 'sound file path');
            var alarm = field('Camera 03, loading bay: motion in zone 3', 'alarm message');
            var out = Demo.el('pre', { class: 'out', text: '—' });
            var button = function (text, handler, cls) {
                return Demo.el('button', { text: text, onclick: handler, class: cls || '' });
            };
            el.appendChild(Demo.el('div', { class: 'row' }, [video,
                button('Play video', function () { run(out, 'PlayVideoFile', [video.value]); })]));
            el.appendChild(Demo.el('div', { class: 'row' }, [picture,
                button('Show picture', function () { run(out, 'ShowPicture', [picture.value]); })]));
            el.appendChild(Demo.el('div', { class: 'row' }, [sound,
                button('Play sound', function () { run(out, 'PlaySoundFile', [sound.value]); })]));
            el.appendChild(Demo.el('div', { class: 'row' }, [alarm,
                button('Alarm tip', function () { run(out, 'ShowDevAlarmTips', [alarm.value]); })]));
            el.appendChild(Demo.el('div', { class: 'row' }, [
                button('Missing picture', function () {
                    run(out, 'ShowPicture', [samples.missingPicture || '/nonexistent/snapshot.png']);
                }, 'secondary')]));
            el.appendChild(out);
            this.out = out;
        },
        tour: function () {
            var out = this.out;
            if (!samples.video) {
                Demo.log('media: the host offers no sample files; enter your own paths', 'err');
                return Promise.resolve();
            }
            return run(out, 'PlaySoundFile', [samples.sound])
                .then(function () { return run(out, 'PlayVideoFile', [samples.video]); })
                .then(function () { return Demo.sleep(4000); })
                .then(function () {
                    // Modal viewers wait for a person; only a host that closes
                    // them itself (the headless run) gets them in the tour.
                    if (!samples.autoClose) {
                        Demo.log('media: open the picture viewer and the alarm tip with the buttons');
                        return null;
                    }
                    return run(out, 'ShowPicture', [samples.picture])
                        .then(function () { return run(out, 'ShowPicture', [samples.missingPicture]); })
                        .then(function () {
                            return run(out, 'ShowDevAlarmTips', ['Camera 03, loading bay: motion in zone 3']);
                        });
                });
        },
    });
})();
